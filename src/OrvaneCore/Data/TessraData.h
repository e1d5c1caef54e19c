#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "OrvaneCore/Base/OrvaneObject.h"
#include "OrvaneCore/Data/ClassRegistry.h"
#include "OrvaneCore/Data/MemberVisitor.h"

namespace Orvane {

// When a record's persisted members last changed, as a number from one process-wide sequence: a
// stamp drawn later is larger. A new record (a copy included) draws a fresh stamp, so a record
// created after a moment M always has a stamp above the sequence's value at M.
class TChangeStamp {
public:
  TChangeStamp() noexcept : FValue(Next()) {}
  TChangeStamp(const TChangeStamp&) noexcept : FValue(Next()) {}
  TChangeStamp& operator=(const TChangeStamp&) noexcept {
    Touch();
    return *this;
  }

  uint64_t Get() const noexcept { return FValue.load(); }
  // Draws a new stamp. Called after the change is made, so that whoever reads Latest() and then
  // finds the record's stamp at or below it also sees the change.
  void Touch() noexcept { FValue.store(Next()); }
  // The last stamp drawn in this process.
  static uint64_t Latest() noexcept;

private:
  static uint64_t Next() noexcept;

  std::atomic<uint64_t> FValue;
};

// The persistent data record: the root of jobs, job actions, start conditions, their storages
// and data transfer objects. A record describes its members once (DescribeMembers); Assign, Clone,
// data equality, the XML form and the log text all follow from that description.
//
// A descendant overrides ClassName() and DescribeMembers() (calling its parent's first) and is
// registered with ORVANE_REGISTER_CLASS so that it can be created by name.
class TTessraData : public TOrvaneObject {
public:
  std::string ClassName() const override { return "TTessraData"; }

  virtual void DescribeMembers(IMemberVisitor& AVisitor);

  // Copies every described member of ASource; polymorphic members become new objects.
  virtual void Assign(const TTessraData& ASource);
  // A deep copy of the same class (created through the class registry).
  virtual std::shared_ptr<TTessraData> Clone() const;
  // Same class and equal members, deeply.
  bool DataEquals(const TTessraData& AOther) const;

  // The registry's descendant test on this object's class.
  bool InheritsFrom(const TClassName& AAncestor) const;

  // Change stamps let a saver tell that nothing it wrote has changed without serialising it again.
  // Every write of a described member calls MarkChanged afterwards: the setters, Assign and the
  // readers that fill a record from a file or node do so themselves; code that writes a public
  // member of a record that may have been saved already calls it itself.
  // Const, because a record's const methods may add what it owns on first use (a facade's storage).
  void MarkChanged() const noexcept { FChangeStamp.Touch(); }
  uint64_t GetChangeStamp() const noexcept { return FChangeStamp.Get(); }
  // The latest stamp of this record and of the records it owns (its action, conditions,
  // storages); records that own others override it.
  virtual uint64_t GetContentStamp() const { return GetChangeStamp(); }

private:
  mutable TChangeStamp FChangeStamp;
};

// Clone with the static type kept.
template <class T>
std::shared_ptr<T> CloneAs(const T& ARecord) {
  return std::dynamic_pointer_cast<T>(ARecord.Clone());
}

}  // namespace Orvane
