#include "OrvaneCore/Data/DataNode.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "OrvaneCore/Base/Exceptions.h"
#include "OrvaneCore/Data/TessraData.h"
#include "OrvaneCore/Logging/OrvaneLogger.h"

namespace Orvane {

namespace {

constexpr uint64_t CPowersOf10[] = {1ull,
                                    10ull,
                                    100ull,
                                    1000ull,
                                    10000ull,
                                    100000ull,
                                    1000000ull,
                                    10000000ull,
                                    100000000ull,
                                    1000000000ull,
                                    10000000000ull,
                                    100000000000ull,
                                    1000000000000ull,
                                    10000000000000ull,
                                    100000000000000ull,
                                    1000000000000000ull,
                                    10000000000000000ull,
                                    100000000000000000ull};
constexpr char CDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

TDataNode ValueNode(const char* AName, std::string AText) {
  TDataNode LNode;
  LNode.Name = AName;
  LNode.Text = std::move(AText);
  return LNode;
}

// Record to tree. Reads the record only.
class TNodeWriter final : public IMemberVisitor {
public:
  explicit TNodeWriter(TDataNode& ANode) : FNode(ANode) {}
  bool ModifiesTarget() const override { return false; }

  void String(const char* AName, std::string& AValue) override { FNode.Children.push_back(ValueNode(AName, AValue)); }
  void Integer(const char* AName, int32_t& AValue) override {
    FNode.Children.push_back(ValueNode(AName, std::to_string(AValue)));
  }
  void Byte(const char* AName, uint8_t& AValue) override {
    FNode.Children.push_back(ValueNode(AName, std::to_string(AValue)));
  }
  void Boolean(const char* AName, bool& AValue) override {
    FNode.Children.push_back(ValueNode(AName, AValue ? "true" : "false"));
  }
  void DateTime(const char* AName, TDateTime& AValue) override {
    char LText[32];
    FNode.Children.push_back(ValueNode(AName, std::string(LText, DateTimeToChars(AValue, LText))));
  }
  void Strings(const char* AName, std::vector<std::string>& AValue) override {
    TDataNode LNode;
    LNode.Name = AName;
    LNode.Kind = TDataNode::TKind::Strings;
    for (const std::string& LItem : AValue) LNode.Children.push_back(ValueNode("Item", LItem));
    FNode.Children.push_back(std::move(LNode));
  }
  void Object(const char* AName, const TObjectSlot& ASlot) override {
    const std::shared_ptr<TTessraData> LObject = ASlot.Get();
    if (LObject) {
      FNode.Children.push_back(RecordToNode(*LObject, AName));
    } else {
      TDataNode LNode;
      LNode.Name = AName;
      LNode.Kind = TDataNode::TKind::Object;
      FNode.Children.push_back(std::move(LNode));
    }
  }
  void ObjectList(const char* AName, const TObjectListSlot& ASlot) override {
    TDataNode LNode;
    LNode.Name = AName;
    LNode.Kind = TDataNode::TKind::List;
    const std::size_t LCount = ASlot.Count();
    for (std::size_t I = 0; I < LCount; ++I)
      if (const std::shared_ptr<TTessraData> LItem = ASlot.At(I)) LNode.Children.push_back(RecordToNode(*LItem, "Item"));
    FNode.Children.push_back(std::move(LNode));
  }

private:
  TDataNode& FNode;
};

template <class TNumber>
TNumber ParseNumber(std::string_view AText, std::string_view AName) {
  TNumber LValue{};
  const char* LEnd = AText.data() + AText.size();
  const auto [LStop, LError] = std::from_chars(AText.data(), LEnd, LValue);
  if (AText.empty() || LError != std::errc() || LStop != LEnd)
    throw EConvertError("'" + std::string(AText) + "' is not a valid value of \"" + std::string(AName) +
                        "\"");
  return LValue;
}

// Compares a record's members, in the order it describes them, with the children of its node.
class TNodeMatcher final : public IMemberVisitor {
public:
  explicit TNodeMatcher(const TDataNode& ANode) : FChildren(ANode.Children) {}
  bool ModifiesTarget() const override { return false; }
  bool Matches() const { return FEqual && FNext == FChildren.size(); }

  void String(const char* AName, std::string& AValue) override { Value(AName, AValue); }
  void Integer(const char* AName, int32_t& AValue) override { Value(AName, std::to_string(AValue)); }
  void Byte(const char* AName, uint8_t& AValue) override { Value(AName, std::to_string(AValue)); }
  void Boolean(const char* AName, bool& AValue) override { Value(AName, AValue ? "true" : "false"); }
  void DateTime(const char* AName, TDateTime& AValue) override {
    char LText[32];
    Value(AName, std::string_view(LText, DateTimeToChars(AValue, LText)));
  }
  void Strings(const char* AName, std::vector<std::string>& AValue) override {
    if (const TDataNode* LNode = Next(AName)) FEqual = NodeEqualsStrings(*LNode, AValue);
  }
  void Object(const char* AName, const TObjectSlot& ASlot) override {
    if (const TDataNode* LNode = Next(AName)) FEqual = NodeEqualsObject(*LNode, ASlot.Get().get());
  }
  void ObjectList(const char* AName, const TObjectListSlot& ASlot) override {
    if (const TDataNode* LNode = Next(AName)) FEqual = NodeEqualsObjectList(*LNode, ASlot);
  }

private:
  // The child that stands for the member AName; null, and no match, when there is none.
  const TDataNode* Next(const char* AName) {
    if (!FEqual || FNext == FChildren.size() || FChildren[FNext].Name != AName) {
      FEqual = false;
      return nullptr;
    }
    return &FChildren[FNext++];
  }
  void Value(const char* AName, std::string_view AText) {
    if (const TDataNode* LNode = Next(AName)) FEqual = NodeEqualsValue(*LNode, AText);
  }

  const std::vector<TDataNode>& FChildren;
  std::size_t FNext = 0;
  bool FEqual = true;
};

// Tree to record. Members missing from the tree keep their values.
class TNodeReader final : public IMemberVisitor {
public:
  explicit TNodeReader(const TDataNode& ANode) : FNode(ANode) {}
  bool ModifiesTarget() const override { return true; }

  void String(const char* AName, std::string& AValue) override {
    if (const TDataNode* LNode = FNode.Find(AName)) AValue = LNode->Text;
  }
  void Integer(const char* AName, int32_t& AValue) override {
    if (const TDataNode* LNode = FNode.Find(AName)) AValue = TextToInteger(LNode->Text, LNode->Name);
  }
  void Byte(const char* AName, uint8_t& AValue) override {
    if (const TDataNode* LNode = FNode.Find(AName)) AValue = TextToByte(LNode->Text, LNode->Name);
  }
  void Boolean(const char* AName, bool& AValue) override {
    if (const TDataNode* LNode = FNode.Find(AName)) AValue = TextToBoolean(LNode->Text, LNode->Name);
  }
  void DateTime(const char* AName, TDateTime& AValue) override {
    if (const TDataNode* LNode = FNode.Find(AName))
      AValue = TextToDateTimeMember(LNode->Text.c_str(), LNode->Text.size());
  }
  void Strings(const char* AName, std::vector<std::string>& AValue) override {
    if (const TDataNode* LNode = FNode.Find(AName)) {
      AValue.clear();
      for (const TDataNode& LItem : LNode->Children) AValue.push_back(LItem.Text);
    }
  }
  void Object(const char* AName, const TObjectSlot& ASlot) override {
    const TDataNode* LNode = FNode.Find(AName);
    if (!LNode) return;
    if (LNode->ClassName.empty()) {
      ASlot.Set(nullptr);
      return;
    }
    if (std::shared_ptr<TTessraData> LObject = CreateRecordFromNode(*LNode, ASlot.BaseClass)) ASlot.Set(LObject);
  }
  void ObjectList(const char* AName, const TObjectListSlot& ASlot) override {
    const TDataNode* LNode = FNode.Find(AName);
    if (!LNode) return;
    ASlot.Clear();
    for (const TDataNode& LItem : LNode->Children)
      if (std::shared_ptr<TTessraData> LObject = CreateRecordFromNode(LItem, ASlot.ItemClass)) ASlot.Append(LObject);
  }

private:
  const TDataNode& FNode;
};

}  // namespace

const TDataNode* TDataNode::Find(const std::string& AName) const {
  for (const TDataNode& LChild : Children)
    if (LChild.Name == AName) return &LChild;
  return nullptr;
}

TDataNode RecordToNode(const TTessraData& ARecord, const std::string& AName) {
  TDataNode LNode;
  LNode.Name = AName;
  LNode.Kind = TDataNode::TKind::Object;
  LNode.ClassName = ARecord.ClassName();
  TNodeWriter LWriter(LNode);
  // The description hands out references for reading and writing alike; this visitor only reads.
  const_cast<TTessraData&>(ARecord).DescribeMembers(LWriter);
  return LNode;
}

void NodeToRecord(const TDataNode& ANode, TTessraData& ARecord) {
  TNodeReader LReader(ANode);
  ARecord.DescribeMembers(LReader);
  ARecord.MarkChanged();
}

std::shared_ptr<TTessraData> CreateRecordFromNode(const TDataNode& ANode, const std::string& ABaseClass) {
  std::shared_ptr<TTessraData> LObject = CreateRecordOfClass(ANode.ClassName, ANode.Name, ABaseClass);
  if (LObject) NodeToRecord(ANode, *LObject);
  return LObject;
}

std::shared_ptr<TTessraData> CreateRecordOfClass(const std::string& AClassName, const std::string& AItemName,
                                                 const std::string& ABaseClass) {
  const TClassRegistry& LRegistry = TClassRegistry::Instance();
  std::shared_ptr<TTessraData> LObject = LRegistry.Create(AClassName);
  if (!LObject) {
    OrvaneLogger()->Error("Unknown class \"%s\" of item \"%s\"; the item is skipped",
                          {AClassName, AItemName});
    return nullptr;
  }
  if (!ABaseClass.empty() && !LRegistry.InheritsFrom(AClassName, ABaseClass)) {
    OrvaneLogger()->Error("Class \"%s\" of item \"%s\" is not a %s; the item is skipped",
                          {AClassName, AItemName, ABaseClass});
    return nullptr;
  }
  return LObject;
}

std::size_t DateTimeToChars(TDateTime AValue, char* ABuffer) {
  // Dates are days since 1899 and their fractions: from 1 to 1e15, the 17 digits are worked out
  // with integers (the value is a 53-bit integer over a power of two), rounded half to even as
  // printf rounds. Other values take the library's way.
  const double LMagnitude = std::fabs(AValue);
  if (!(LMagnitude >= 1 && LMagnitude < 1e15))
    return static_cast<std::size_t>(
        std::to_chars(ABuffer, ABuffer + 32, AValue, std::chars_format::general, 17).ptr - ABuffer);
  char* LPos = ABuffer;
  if (AValue < 0) *LPos++ = '-';
  uint64_t LBits;
  std::memcpy(&LBits, &LMagnitude, sizeof LBits);
  const uint64_t LMantissa = (LBits & ((uint64_t{1} << 52) - 1)) | (uint64_t{1} << 52);
  const int LShift = 1075 - static_cast<int>(LBits >> 52);  // LMagnitude = LMantissa / 2^LShift
  const uint64_t LWhole = LMantissa >> LShift;
  int LWholeDigits = 1;
  while (LWholeDigits < 17 && LWhole >= CPowersOf10[LWholeDigits]) ++LWholeDigits;
  const unsigned __int128 LScaled =
      static_cast<unsigned __int128>(LMantissa) * CPowersOf10[17 - LWholeDigits];
  const unsigned __int128 LHalf = static_cast<unsigned __int128>(1) << (LShift - 1);
  const unsigned __int128 LRest = LScaled & ((LHalf << 1) - 1);
  uint64_t LDigits = static_cast<uint64_t>(LScaled >> LShift);
  if (LRest > LHalf || (LRest == LHalf && (LDigits & 1))) ++LDigits;
  if (LDigits == CPowersOf10[17]) {
    LDigits = CPowersOf10[16];
    ++LWholeDigits;
  }
  char LText[18];
  LText[0] = static_cast<char>('0' + LDigits / CPowersOf10[16]);
  LDigits %= CPowersOf10[16];
  for (int I = 15; I >= 1; I -= 2) {
    std::memcpy(LText + I, CDigitPairs + 2 * (LDigits % 100), 2);
    LDigits /= 100;
  }
  int LEnd = 17;
  while (LEnd > LWholeDigits && LText[LEnd - 1] == '0') --LEnd;
  std::memcpy(LPos, LText, static_cast<std::size_t>(LWholeDigits));
  LPos += LWholeDigits;
  if (LEnd > LWholeDigits) {
    *LPos++ = '.';
    std::memcpy(LPos, LText + LWholeDigits, static_cast<std::size_t>(LEnd - LWholeDigits));
    LPos += LEnd - LWholeDigits;
  }
  return static_cast<std::size_t>(LPos - ABuffer);
}

int32_t TextToInteger(std::string_view AText, std::string_view AName) {
  return ParseNumber<int32_t>(AText, AName);
}

uint8_t TextToByte(std::string_view AText, std::string_view AName) {
  const int LValue = ParseNumber<int>(AText, AName);
  if (LValue < 0 || LValue > std::numeric_limits<uint8_t>::max())
    throw EConvertError("'" + std::string(AText) + "' is out of range for \"" + std::string(AName) + "\"");
  return static_cast<uint8_t>(LValue);
}

bool TextToBoolean(std::string_view AText, std::string_view AName) {
  if (AText == "true" || AText == "1") return true;
  if (AText == "false" || AText == "0") return false;
  throw EConvertError("'" + std::string(AText) + "' is not a valid Boolean value of \"" + std::string(AName) +
                      "\"");
}

TDateTime TextToDateTimeMember(const char* AText, std::size_t ASize) {
  // The form we write ("-1", "46083.385763888888") converts the quicker way, to the same value:
  // both conversions round correctly, and so short a decimal neither overflows nor underflows.
  const auto SkipDigits = [AText, ASize](std::size_t AFrom) {
    while (AFrom < ASize && AText[AFrom] >= '0' && AText[AFrom] <= '9') ++AFrom;
    return AFrom;
  };
  const std::size_t LStart = ASize > 0 && AText[0] == '-' ? 1 : 0;
  const std::size_t LPoint = SkipDigits(LStart);
  const bool LPlain =
      ASize <= 24 && LPoint > LStart &&
      (LPoint == ASize || (AText[LPoint] == '.' && LPoint + 1 < ASize && SkipDigits(LPoint + 1) == ASize));
  if (LPlain) {
    double LValue = 0;
    const auto [LStop, LError] = std::from_chars(AText, AText + ASize, LValue);
    if (LError == std::errc() && LStop == AText + ASize) return LValue;
  }
  // TextToDateTime's test, without its copy of the text; a text it refuses goes to it for the
  // message.
  errno = 0;
  char* LEnd = nullptr;
  const double LValue = std::strtod(AText, &LEnd);
  if (ASize == 0 || LEnd != AText + ASize || errno == ERANGE || !std::isfinite(LValue))
    return TextToDateTime(std::string(AText, ASize));
  return LValue;
}

bool NodeEqualsValue(const TDataNode& ANode, std::string_view AText) {
  return ANode.Kind == TDataNode::TKind::Value && ANode.Text == AText && ANode.ClassName.empty() &&
         ANode.Children.empty();
}

bool NodeEqualsStrings(const TDataNode& ANode, const std::vector<std::string>& AItems) {
  if (ANode.Kind != TDataNode::TKind::Strings || !ANode.Text.empty() || !ANode.ClassName.empty() ||
      ANode.Children.size() != AItems.size())
    return false;
  for (std::size_t I = 0; I < AItems.size(); ++I)
    if (ANode.Children[I].Name != "Item" || !NodeEqualsValue(ANode.Children[I], AItems[I])) return false;
  return true;
}

bool NodeEqualsObject(const TDataNode& ANode, const TTessraData* AObject) {
  if (ANode.Kind != TDataNode::TKind::Object || !ANode.Text.empty()) return false;
  if (!AObject) return ANode.ClassName.empty() && ANode.Children.empty();
  if (ANode.ClassName != AObject->ClassName()) return false;
  TNodeMatcher LMatcher(ANode);
  // The description hands out references for reading and writing alike; this visitor only reads.
  const_cast<TTessraData*>(AObject)->DescribeMembers(LMatcher);
  return LMatcher.Matches();
}

bool NodeEqualsObjectList(const TDataNode& ANode, const TObjectListSlot& ASlot) {
  if (ANode.Kind != TDataNode::TKind::List || !ANode.Text.empty() || !ANode.ClassName.empty()) return false;
  std::size_t LChild = 0;
  const std::size_t LCount = ASlot.Count();
  for (std::size_t I = 0; I < LCount; ++I) {
    const std::shared_ptr<TTessraData> LItem = ASlot.At(I);
    if (!LItem) continue;
    if (LChild == ANode.Children.size() || ANode.Children[LChild].Name != "Item" ||
        !NodeEqualsObject(ANode.Children[LChild], LItem.get()))
      return false;
    ++LChild;
  }
  return LChild == ANode.Children.size();
}

}  // namespace Orvane
