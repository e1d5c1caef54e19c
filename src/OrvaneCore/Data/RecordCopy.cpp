#include "OrvaneCore/Data/RecordCopy.h"

#include <cmath>
#include <cstring>
#include <deque>
#include <functional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "OrvaneCore/Data/ClassRegistry.h"
#include "OrvaneCore/Data/DataNode.h"
#include "OrvaneCore/Data/TessraData.h"
#include "OrvaneCore/Platform/ThreadExit.h"

namespace Orvane {

namespace {

using TRecordPtr = std::shared_ptr<TTessraData>;
using TItems = std::vector<TRecordPtr>;

// One member's value as its description hands it out; the alternatives follow the visitor's methods.
using TValue = std::variant<std::string, int32_t, uint8_t, bool, TDateTime, std::vector<std::string>,
                            TRecordPtr, TItems>;
enum TValueKind : std::size_t {
  vkString,
  vkInteger,
  vkByte,
  vkBoolean,
  vkDateTime,
  vkStrings,
  vkObject,
  vkList
};

struct TMember {
  template <class T, class TArg>
  TMember(const char* AName, std::in_place_type_t<T> AType, TArg&& AValue)
      : Name(AName), Value(AType, std::forward<TArg>(AValue)) {}

  const char* Name;
  TValue Value;
};
using TMembers = std::vector<TMember>;

bool SameName(const char* A, const char* B) {
  return A == B || std::strcmp(A, B) == 0;
}

// Member lists come from a per-thread stack, one list per nesting level, so that their storage
// serves record after record instead of being allocated for each.
struct TMemberListStack {
  std::deque<TMembers> Lists;  // a deque: growing it leaves the outer levels' lists in place
  std::size_t Depth = 0;
};

class TMemberList {
public:
  TMemberList() : FStack(TPerThread<TMemberListStack>::Get()) {
    if (FStack.Depth == FStack.Lists.size()) FStack.Lists.emplace_back();
    FMembers = &FStack.Lists[FStack.Depth++];
  }
  ~TMemberList() {
    FMembers->clear();
    --FStack.Depth;
  }
  TMemberList(const TMemberList&) = delete;
  TMemberList& operator=(const TMemberList&) = delete;

  TMembers& operator*() { return *FMembers; }
  TMembers* operator->() { return FMembers; }

private:
  TMemberListStack& FStack;
  TMembers* FMembers;
};

// Record to member list: copies of the values, the objects by reference.
class TMemberReader final : public IMemberVisitor {
public:
  explicit TMemberReader(TMembers& AMembers) : FMembers(AMembers) {}
  bool ModifiesTarget() const override { return false; }

  void String(const char* AName, std::string& AValue) override { Add<std::string>(AName, AValue); }
  void Integer(const char* AName, int32_t& AValue) override { Add<int32_t>(AName, AValue); }
  void Byte(const char* AName, uint8_t& AValue) override { Add<uint8_t>(AName, AValue); }
  void Boolean(const char* AName, bool& AValue) override { Add<bool>(AName, AValue); }
  void DateTime(const char* AName, TDateTime& AValue) override { Add<TDateTime>(AName, AValue); }
  void Strings(const char* AName, std::vector<std::string>& AValue) override {
    Add<std::vector<std::string>>(AName, AValue);
  }
  void Object(const char* AName, const TObjectSlot& ASlot) override { Add<TRecordPtr>(AName, ASlot.Get()); }
  void ObjectList(const char* AName, const TObjectListSlot& ASlot) override {
    TItems LItems;
    const std::size_t LCount = ASlot.Count();
    LItems.reserve(LCount);
    // An empty entry is no item: it is neither saved nor copied.
    for (std::size_t I = 0; I < LCount; ++I)
      if (TRecordPtr LItem = ASlot.At(I)) LItems.push_back(std::move(LItem));
    Add<TItems>(AName, std::move(LItems));
  }

private:
  template <class T, class TArg>
  void Add(const char* AName, TArg&& AValue) {
    FMembers.emplace_back(AName, std::in_place_type<T>, std::forward<TArg>(AValue));
  }

  TMembers& FMembers;
};

void ReadMembers(const TTessraData& ARecord, TMembers& AMembers) {
  TMemberReader LReader(AMembers);
  // The description hands out references for reading and writing alike; this visitor only reads.
  const_cast<TTessraData&>(ARecord).DescribeMembers(LReader);
}

// Describes one captured value to AVisitor, under its name.
void DescribeValue(IMemberVisitor& AVisitor, TMember& AMember) {
  TValue& LValue = AMember.Value;
  switch (LValue.index()) {
    case vkString:
      return AVisitor.String(AMember.Name, std::get<vkString>(LValue));
    case vkInteger:
      return AVisitor.Integer(AMember.Name, std::get<vkInteger>(LValue));
    case vkByte:
      return AVisitor.Byte(AMember.Name, std::get<vkByte>(LValue));
    case vkBoolean:
      return AVisitor.Boolean(AMember.Name, std::get<vkBoolean>(LValue));
    case vkDateTime:
      return AVisitor.DateTime(AMember.Name, std::get<vkDateTime>(LValue));
    case vkStrings:
      return AVisitor.Strings(AMember.Name, std::get<vkStrings>(LValue));
    case vkObject:
      return AVisitor.Object(AMember.Name, MakeObjectSlot("", std::get<vkObject>(LValue)));
    default:
      return AVisitor.ObjectList(AMember.Name, MakeObjectListSlot("", std::get<vkList>(LValue)));
  }
}

// A record of one member, described by a function: lets the text tree convert a single member.
class TOneMemberRecord final : public TTessraData {
public:
  explicit TOneMemberRecord(std::function<void(IMemberVisitor&)> ADescribe)
      : FDescribe(std::move(ADescribe)) {}
  void DescribeMembers(IMemberVisitor& AVisitor) override { FDescribe(AVisitor); }

private:
  std::function<void(IMemberVisitor&)> FDescribe;
};

// A value that the target describes with another kind of value, or one whose text does not read
// back: written as text and read by the tree, exactly as a save and a load would.
void StoreThroughText(TMember& AMember, std::function<void(IMemberVisitor&)> ADescribeTarget) {
  TOneMemberRecord LSource([&AMember](IMemberVisitor& AVisitor) { DescribeValue(AVisitor, AMember); });
  TOneMemberRecord LTarget(std::move(ADescribeTarget));
  NodeToRecord(RecordToNode(LSource), LTarget);
}

// The date and time values whose text reads back as the same value; the others (infinite, not a
// number, subnormal) take the text's way and its error.
bool ReadsBackExactly(TDateTime AValue) {
  return AValue == 0 || std::isnormal(AValue);
}

// A new object of class AClass (ASource's) with ASource's members, created through the class
// registry; nullptr when the class is unknown or not ABaseClass or a descendant.
TRecordPtr CopyObject(const TTessraData& ASource, const std::string& AClass, const char* AName,
                      const char* ABaseClass) {
  const TClassRegistry& LRegistry = TClassRegistry::Instance();
  TRecordPtr LCopy = LRegistry.Create(AClass);
  // A class the registry created is its own base: most members hold objects of just their class.
  if (LCopy && (*ABaseClass == '\0' || AClass == ABaseClass || LRegistry.InheritsFrom(AClass, ABaseClass))) {
    CopyRecordMembers(ASource, *LCopy);
    return LCopy;
  }
  // The tree's reader logs the skipped object in the words a load uses.
  return CreateRecordFromNode(RecordToNode(ASource, AName), ABaseClass);
}

// Member list to record. A target member takes the captured member of its name; the usual case is
// two records of one class, whose members come in the same order, so the next captured member is
// tried first.
class TMemberWriter final : public IMemberVisitor {
public:
  explicit TMemberWriter(TMembers& AMembers) : FMembers(AMembers) {}
  bool ModifiesTarget() const override { return true; }

  void String(const char* AName, std::string& AValue) override {
    Store(AName, AValue, &IMemberVisitor::String);
  }
  void Integer(const char* AName, int32_t& AValue) override {
    Store(AName, AValue, &IMemberVisitor::Integer);
  }
  void Byte(const char* AName, uint8_t& AValue) override { Store(AName, AValue, &IMemberVisitor::Byte); }
  void Boolean(const char* AName, bool& AValue) override { Store(AName, AValue, &IMemberVisitor::Boolean); }
  void DateTime(const char* AName, TDateTime& AValue) override {
    TMember* LMember = Find(AName);
    if (!LMember) return;
    const TDateTime* LValue = std::get_if<TDateTime>(&LMember->Value);
    if (LValue && ReadsBackExactly(*LValue))
      AValue = *LValue;
    else
      StoreThroughText(*LMember, [&](IMemberVisitor& AVisitor) { AVisitor.DateTime(AName, AValue); });
  }
  void Strings(const char* AName, std::vector<std::string>& AValue) override {
    Store(AName, AValue, &IMemberVisitor::Strings);
  }
  void Object(const char* AName, const TObjectSlot& ASlot) override {
    TMember* LMember = Find(AName);
    if (!LMember) return;
    const TRecordPtr* LObject = std::get_if<TRecordPtr>(&LMember->Value);
    if (!LObject)
      return StoreThroughText(*LMember, [&](IMemberVisitor& AVisitor) { AVisitor.Object(AName, ASlot); });
    const std::string LClass = *LObject ? (*LObject)->ClassName() : std::string();
    // An object of no class reads as none, as it does from a file.
    if (LClass.empty())
      ASlot.Set(nullptr);
    else if (TRecordPtr LCopy = CopyObject(**LObject, LClass, AName, ASlot.BaseClass))
      ASlot.Set(std::move(LCopy));
  }
  void ObjectList(const char* AName, const TObjectListSlot& ASlot) override {
    TMember* LMember = Find(AName);
    if (!LMember) return;
    const TItems* LItems = std::get_if<TItems>(&LMember->Value);
    if (!LItems)
      return StoreThroughText(*LMember, [&](IMemberVisitor& AVisitor) { AVisitor.ObjectList(AName, ASlot); });
    ASlot.Clear();
    for (const TRecordPtr& LItem : *LItems)
      if (TRecordPtr LCopy = CopyObject(*LItem, LItem->ClassName(), "Item", ASlot.ItemClass))
        ASlot.Append(std::move(LCopy));
  }

private:
  template <class T>
  void Store(const char* AName, T& AValue, void (IMemberVisitor::*ADescribe)(const char*, T&)) {
    TMember* LMember = Find(AName);
    if (!LMember) return;
    if (T* LValue = std::get_if<T>(&LMember->Value))
      AValue = std::move(*LValue);  // each member is taken once: a description names it once
    else
      StoreThroughText(*LMember, [&](IMemberVisitor& AVisitor) { (AVisitor.*ADescribe)(AName, AValue); });
  }

  TMember* Find(const char* AName) {
    if (FNext < FMembers.size() && SameName(FMembers[FNext].Name, AName)) return &FMembers[FNext++];
    for (std::size_t I = 0; I < FMembers.size(); ++I) {
      if (SameName(FMembers[I].Name, AName)) {
        FNext = I + 1;
        return &FMembers[I];
      }
    }
    return nullptr;
  }

  TMembers& FMembers;
  std::size_t FNext = 0;
};

std::string ValueText(const TValue& AValue) {
  switch (AValue.index()) {
    case vkString:
      return std::get<vkString>(AValue);
    case vkInteger:
      return std::to_string(std::get<vkInteger>(AValue));
    case vkByte:
      return std::to_string(std::get<vkByte>(AValue));
    case vkBoolean:
      return std::get<vkBoolean>(AValue) ? "true" : "false";
    default:
      return DateTimeToText(std::get<vkDateTime>(AValue));
  }
}

bool IsTextValue(const TValue& AValue) {
  return AValue.index() <= vkDateTime;
}

// Equal as their texts are: zero and minus zero differ, two values that are not numbers may not.
bool SameDateTimeText(TDateTime A, TDateTime B) {
  if (A == B && std::signbit(A) == std::signbit(B)) return true;
  if (!std::isnan(A) && !std::isnan(B)) return false;
  return DateTimeToText(A) == DateTimeToText(B);
}

bool RecordsEqual(const TTessraData& A, const TTessraData& B) {
  return A.ClassName() == B.ClassName() && RecordMembersEqual(A, B);
}

bool ValuesEqual(const TValue& A, const TValue& B) {
  // Values of different kinds compare as the texts they are saved as.
  if (A.index() != B.index()) return IsTextValue(A) && IsTextValue(B) && ValueText(A) == ValueText(B);
  switch (A.index()) {
    case vkDateTime:
      return SameDateTimeText(std::get<vkDateTime>(A), std::get<vkDateTime>(B));
    case vkObject: {
      const TRecordPtr& LA = std::get<vkObject>(A);
      const TRecordPtr& LB = std::get<vkObject>(B);
      if (LA && LB) return RecordsEqual(*LA, *LB);
      if (!LA && !LB) return true;
      // None equals only an object that is saved as none would be: no class, no members.
      TDataNode LNone;
      LNone.Kind = TDataNode::TKind::Object;
      return RecordToNode(LA ? *LA : *LB) == LNone;
    }
    case vkList: {
      const TItems& LA = std::get<vkList>(A);
      const TItems& LB = std::get<vkList>(B);
      if (LA.size() != LB.size()) return false;
      for (std::size_t I = 0; I < LA.size(); ++I)
        if (!RecordsEqual(*LA[I], *LB[I])) return false;
      return true;
    }
    default:
      return A == B;
  }
}

}  // namespace

void CopyRecordMembers(const TTessraData& ASource, TTessraData& ATarget) {
  TMemberList LMembers;
  ReadMembers(ASource, *LMembers);
  TMemberWriter LWriter(*LMembers);
  ATarget.DescribeMembers(LWriter);
  ATarget.MarkChanged();
}

bool RecordMembersEqual(const TTessraData& A, const TTessraData& B) {
  TMemberList LA;
  TMemberList LB;
  ReadMembers(A, *LA);
  ReadMembers(B, *LB);
  if (LA->size() != LB->size()) return false;
  for (std::size_t I = 0; I < LA->size(); ++I)
    if (!SameName((*LA)[I].Name, (*LB)[I].Name) || !ValuesEqual((*LA)[I].Value, (*LB)[I].Value)) return false;
  return true;
}

}  // namespace Orvane
