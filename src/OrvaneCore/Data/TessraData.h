#pragma once

#include <memory>
#include <string>

#include "OrvaneCore/Base/OrvaneObject.h"
#include "OrvaneCore/Data/ClassRegistry.h"
#include "OrvaneCore/Data/MemberVisitor.h"

namespace Orvane {

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
};

// Clone with the static type kept.
template <class T>
std::shared_ptr<T> CloneAs(const T& ARecord) {
  return std::dynamic_pointer_cast<T>(ARecord.Clone());
}

}  // namespace Orvane
