#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "OrvaneCore/Time/DateTime.h"

namespace Orvane {

class TTessraData;

// One polymorphic member owned by a record (a job's action): read it, replace it.
struct TObjectSlot {
  const char* BaseClass;  // the class every value must be or descend from
  std::function<std::shared_ptr<TTessraData>()> Get;
  std::function<void(std::shared_ptr<TTessraData>)> Set;
};

// A list of polymorphic members owned by a record (start conditions, storages).
struct TObjectListSlot {
  const char* ItemClass;
  std::function<std::size_t()> Count;
  std::function<std::shared_ptr<TTessraData>(std::size_t)> At;
  std::function<void()> Clear;
  std::function<void(std::shared_ptr<TTessraData>)> Append;  // the item is of ItemClass or a descendant
};

// A record describes its members once, to a visitor; that one description serves writing and
// reading XML, Assign, Clone, data equality and logging. A visitor that reads into the record says
// so with ModifiesTarget(); records whose fields are atomics store back only then, so that a
// writer never overwrites a concurrent change with the value it read.
struct IMemberVisitor {
  virtual ~IMemberVisitor() = default;
  virtual bool ModifiesTarget() const = 0;

  virtual void String(const char* AName, std::string& AValue) = 0;
  virtual void Integer(const char* AName, int32_t& AValue) = 0;
  virtual void Byte(const char* AName, uint8_t& AValue) = 0;
  virtual void Boolean(const char* AName, bool& AValue) = 0;
  virtual void DateTime(const char* AName, TDateTime& AValue) = 0;
  virtual void Strings(const char* AName, std::vector<std::string>& AValue) = 0;
  virtual void Object(const char* AName, const TObjectSlot& ASlot) = 0;
  virtual void ObjectList(const char* AName, const TObjectListSlot& ASlot) = 0;
};

// An atomic member goes through a local value; only a reading visitor stores it back.
//   DescribeAtomic(AVisitor, FOrder, [&](int32_t& A) { AVisitor.Integer("Order", A); });
template <class T, class TVisit>
void DescribeAtomic(IMemberVisitor& AVisitor, std::atomic<T>& AMember, TVisit AVisit) {
  T LValue = AMember.load();
  AVisit(LValue);
  if (AVisitor.ModifiesTarget()) AMember.store(LValue);
}

// Slots over the usual member shapes. T derives from TTessraData.
template <class T>
TObjectSlot MakeObjectSlot(const char* ABaseClass, std::shared_ptr<T>& AMember) {
  return {ABaseClass, [&AMember] { return std::static_pointer_cast<TTessraData>(AMember); },
          [&AMember](std::shared_ptr<TTessraData> AValue) { AMember = std::dynamic_pointer_cast<T>(AValue); }};
}

template <class T>
TObjectListSlot MakeObjectListSlot(const char* AItemClass, std::vector<std::shared_ptr<T>>& AList) {
  return {AItemClass, [&AList] { return AList.size(); },
          [&AList](std::size_t AIndex) { return std::static_pointer_cast<TTessraData>(AList[AIndex]); },
          [&AList] { AList.clear(); },
          [&AList](std::shared_ptr<TTessraData> AItem) {
            if (auto LItem = std::dynamic_pointer_cast<T>(AItem)) AList.push_back(std::move(LItem));
          }};
}

}  // namespace Orvane
