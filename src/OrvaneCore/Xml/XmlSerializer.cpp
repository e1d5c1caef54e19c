#include "OrvaneCore/Xml/XmlSerializer.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cmath>
#include <cstring>
#include <optional>
#include <pugixml.hpp>
#include <string_view>
#include <system_error>
#include <unordered_map>
#include <vector>

#include "OrvaneCore/Logging/OrvaneLogger.h"
#include "OrvaneCore/Platform/AtomicFile.h"
#include "OrvaneCore/Platform/FileReader.h"
#include "OrvaneCore/Xml/XmlWriter.h"

namespace Orvane {

namespace {

constexpr const char* CClassAttribute = "Class";
constexpr const char* CDeclaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
// Records nest a handful of levels; a document nested far deeper is not ours, and reading it
// recursively must not exhaust the stack.
constexpr int CMaxDepth = 128;

// Whitespace-only text is kept where it is an element's whole content (a value of spaces), and
// dropped between elements (indentation). Line ends are kept as written: our texts may hold a
// carriage return, and the writer leaves it unescaped. As a fragment, text outside the root element
// is kept, so that the check below can refuse it instead of the parser dropping it unseen.
constexpr unsigned CParseOptions =
    (pugi::parse_default | pugi::parse_ws_pcdata_single | pugi::parse_fragment) & ~pugi::parse_eol;

bool IsNameStart(unsigned char AChar) {
  return (AChar >= 'A' && AChar <= 'Z') || (AChar >= 'a' && AChar <= 'z') || AChar == '_' || AChar == ':' ||
         AChar >= 0x80;
}

bool IsNameChar(unsigned char AChar) {
  return IsNameStart(AChar) || (AChar >= '0' && AChar <= '9') || AChar == '-' || AChar == '.';
}

bool IsXmlName(const std::string& AName) {
  if (AName.empty() || !IsNameStart(static_cast<unsigned char>(AName.front()))) return false;
  return std::all_of(AName.begin(), AName.end(),
                     [](char AChar) { return IsNameChar(static_cast<unsigned char>(AChar)); });
}

void CheckElementName(const std::string& AName) {
  if (!IsXmlName(AName)) throw EArgumentException("\"" + AName + "\" cannot be the name of an XML element");
}

TDataNode ElementToNode(pugi::xml_node AElement, int ADepth) {
  if (ADepth > CMaxDepth)
    throw EXmlReadError("The XML is nested more than " + std::to_string(CMaxDepth) + " levels deep");
  TDataNode LNode;
  LNode.Name = AElement.name();
  if (pugi::xml_attribute LClass = AElement.attribute(CClassAttribute)) {
    LNode.ClassName = LClass.value();
    LNode.Kind = TDataNode::TKind::Object;
  }
  std::string LText;
  for (pugi::xml_node LChild : AElement.children()) {
    if (LChild.type() == pugi::node_element)
      LNode.Children.push_back(ElementToNode(LChild, ADepth + 1));
    else if (LChild.type() == pugi::node_pcdata || LChild.type() == pugi::node_cdata)
      LText += LChild.value();
  }
  if (LNode.Children.empty())
    LNode.Text = std::move(LText);
  else if (LNode.Kind != TDataNode::TKind::Object)
    LNode.Kind = TDataNode::TKind::List;
  return LNode;
}

bool IsBlank(const char* AText) {
  for (; *AText; ++AText)
    if (*AText != ' ' && *AText != '\t' && *AText != '\r' && *AText != '\n') return false;
  return true;
}

// The character at the start of AText (not empty): its length in bytes when it is well-formed
// UTF-8 (no overlong form, no surrogate, nothing above U+10FFFF); otherwise minus the length of the
// ill-formed sequence there, that is of its longest start that could still have begun a character
// (at least one byte), which one replacement character stands for.
int Utf8CharAt(std::string_view AText) {
  const auto LByte = [&AText](std::size_t AIndex) { return static_cast<unsigned char>(AText[AIndex]); };
  const unsigned char LLead = LByte(0);
  if (LLead < 0x80) return 1;
  int LLength;
  unsigned char LSecondLow = 0x80;
  unsigned char LSecondHigh = 0xBF;
  if (LLead >= 0xC2 && LLead <= 0xDF) {
    LLength = 2;
  } else if (LLead >= 0xE0 && LLead <= 0xEF) {
    LLength = 3;
    if (LLead == 0xE0) LSecondLow = 0xA0;   // overlong
    if (LLead == 0xED) LSecondHigh = 0x9F;  // surrogates
  } else if (LLead >= 0xF0 && LLead <= 0xF4) {
    LLength = 4;
    if (LLead == 0xF0) LSecondLow = 0x90;   // overlong
    if (LLead == 0xF4) LSecondHigh = 0x8F;  // above U+10FFFF
  } else {
    return -1;
  }
  for (int I = 1; I < LLength; ++I) {
    const std::size_t LIndex = static_cast<std::size_t>(I);
    if (LIndex >= AText.size()) return -I;
    const unsigned char LLow = I == 1 ? LSecondLow : 0x80;
    const unsigned char LHigh = I == 1 ? LSecondHigh : 0xBF;
    if (LByte(LIndex) < LLow || LByte(LIndex) > LHigh) return -I;
  }
  return LLength;
}

// The number of ill-formed sequences in AText; with ARepaired, AText with each of them replaced
// by U+FFFD goes there.
std::size_t CountInvalidUtf8(std::string_view AText, std::string* ARepaired = nullptr) {
  std::size_t LCount = 0;
  for (std::size_t LPos = 0; LPos < AText.size();) {
    const int LLength = Utf8CharAt(AText.substr(LPos));
    if (LLength > 0) {
      if (ARepaired) ARepaired->append(AText, LPos, static_cast<std::size_t>(LLength));
      LPos += static_cast<std::size_t>(LLength);
    } else {
      ++LCount;
      if (ARepaired) *ARepaired += "\xEF\xBF\xBD";
      LPos += static_cast<std::size_t>(-LLength);
    }
  }
  return LCount;
}

// Most names and texts are ASCII; those need no closer look.
bool IsAscii(const char* AText) {
  for (; *AText; ++AText)
    if (static_cast<unsigned char>(*AText) >= 0x80) return false;
  return true;
}

// Whether every name and text the parser takes from AText is UTF-8 for sure: AText is UTF-8
// throughout and holds neither a NUL (as any UTF-16 text does) nor a character reference (which may
// stand for any code point). The names and texts are pieces of it between ASCII characters then,
// or ASCII characters the parser put in place of an entity.
bool IsPlainUtf8(std::string_view AText) {
  if (AText.find('\0') != std::string_view::npos || AText.find("&#") != std::string_view::npos) return false;
  const char* LPos = AText.data();
  const char* const LEnd = LPos + AText.size();
  while (LPos != LEnd) {
    // ASCII by blocks of 32 bytes.
    for (; LEnd - LPos >= 32; LPos += 32) {
      uint64_t LWords[4];
      std::memcpy(LWords, LPos, sizeof LWords);
      if ((LWords[0] | LWords[1] | LWords[2] | LWords[3]) & 0x8080808080808080ull) break;
    }
    if (LPos == LEnd) break;
    if (static_cast<unsigned char>(*LPos) < 0x80) {
      ++LPos;
      continue;
    }
    const int LLength = Utf8CharAt(std::string_view(LPos, static_cast<std::size_t>(LEnd - LPos)));
    if (LLength < 0) return false;
    LPos += LLength;
  }
  return true;
}

// How deeply a document's elements nest below its root element (0: the root element alone).
class TDepthGauge final : public pugi::xml_tree_walker {
public:
  bool for_each(pugi::xml_node& ANode) override {
    if (depth() > MaxDepth && ANode.type() == pugi::node_element) MaxDepth = depth();
    return true;
  }
  int MaxDepth = 0;
};

// Checks every name and text of a parsed document for UTF-8 and, when asked, repairs them; and
// measures how deeply its elements nest.
class TUtf8Check final : public pugi::xml_tree_walker {
public:
  explicit TUtf8Check(bool ARepair) : FRepair(ARepair) {}

  bool for_each(pugi::xml_node& ANode) override {
    Check(ANode.name(), ANode, [&](const char* AText) { ANode.set_name(AText); });
    Check(ANode.value(), ANode, [&](const char* AText) { ANode.set_value(AText); });
    if (ANode.type() != pugi::node_element) return true;
    MaxDepth = std::max(MaxDepth, depth());
    for (pugi::xml_attribute LAttribute = ANode.first_attribute(); LAttribute;
         LAttribute = LAttribute.next_attribute()) {
      Check(LAttribute.name(), ANode, [&](const char* AText) { LAttribute.set_name(AText); });
      Check(LAttribute.value(), ANode, [&](const char* AText) { LAttribute.set_value(AText); });
    }
    return true;
  }

  std::size_t Count = 0;
  // The element in which the first ill-formed sequence lies.
  std::string FirstElement;
  // Of the deepest element below the root element; 0 for the root element itself.
  int MaxDepth = 0;

private:
  template <class TSet>
  void Check(const char* AText, pugi::xml_node ANode, TSet ASet) {
    if (IsAscii(AText)) return;
    const std::size_t LCount = CountInvalidUtf8(AText);
    if (LCount == 0) return;
    if (Count == 0) {
      const pugi::xml_node LElement = ANode.type() == pugi::node_element ? ANode : ANode.parent();
      // Repaired: the name goes into a message.
      CountInvalidUtf8(LElement.name(), &FirstElement);
    }
    Count += LCount;
    if (!FRepair) return;
    std::string LRepaired;
    CountInvalidUtf8(AText, &LRepaired);
    ASet(LRepaired.c_str());
  }

  const bool FRepair;
};

struct TStringWriter final : pugi::xml_writer {
  std::string Text;
  void write(const void* AData, size_t ASize) override {
    Text.append(static_cast<const char*>(AData), ASize);
  }
};

// The members of new objects, by class, for leaving out members that equal them. A new object may
// take the time of its making (a request's creation time), so a capture serves only while the
// clock shows the moment it was made at.
class TDefaultMembers {
public:
  // The members of a new object of AClassName; null when no object of it can be made.
  const TDataNode* Of(const std::string& AClassName) {
    const TDateTime LNow = Now();
    auto [LEntry, LAdded] = FCaptures.try_emplace(AClassName);
    TCapture& LCapture = LEntry->second;
    if (LAdded || LCapture.At != LNow) {
      const std::shared_ptr<TTessraData> LFresh = TClassRegistry::Instance().Create(AClassName);
      LCapture.Node = LFresh ? std::make_unique<TDataNode>(RecordToNode(*LFresh)) : nullptr;
      // Made across a tick of the clock: good for this object only.
      LCapture.At = Now() == LNow ? LNow : std::nan("");
    }
    return LCapture.Node.get();
  }

private:
  struct TCapture {
    TDateTime At = 0;
    std::unique_ptr<TDataNode> Node;
  };
  std::unordered_map<std::string, TCapture> FCaptures;
};

void WriteRecord(TXmlWriter& AWriter, const TTessraData& ARecord, std::string_view AName, bool AWithClass,
                 TDefaultMembers* ADefaults, TXmlTimes ATimes = TXmlTimes::DayCount);

// Writes a record's members as elements, straight from its description; with defaults, only
// those that differ from a new object's.
class TMemberWriter final : public IMemberVisitor {
public:
  TMemberWriter(TXmlWriter& AWriter, TDefaultMembers* ADefaults, const TDataNode* ADefault, TXmlTimes ATimes)
      : FWriter(AWriter), FDefaults(ADefaults), FDefault(ADefault), FTimes(ATimes) {}
  bool ModifiesTarget() const override { return false; }

  void String(const char* AName, std::string& AValue) override { Value(AName, AValue); }
  void Integer(const char* AName, int32_t& AValue) override { Number(AName, AValue); }
  void Byte(const char* AName, uint8_t& AValue) override { Number(AName, static_cast<unsigned>(AValue)); }
  void Boolean(const char* AName, bool& AValue) override { Value(AName, AValue ? "true" : "false"); }
  void DateTime(const char* AName, TDateTime& AValue) override {
    if (FTimes == TXmlTimes::IsoUtc) {
      if (AValue >= 0) Value(AName, DateTimeToIsoUtc(AValue));
      return;
    }
    char LText[32];
    Value(AName, std::string_view(LText, DateTimeToChars(AValue, LText)));
  }
  void Strings(const char* AName, std::vector<std::string>& AValue) override {
    if (const TDataNode* LDefault = DefaultOf(AName); LDefault && NodeEqualsStrings(*LDefault, AValue))
      return;
    FWriter.BeginElement(AName);
    for (const std::string& LItem : AValue) FWriter.Element("Item", LItem);
    FWriter.EndElement();
  }
  void Object(const char* AName, const TObjectSlot& ASlot) override {
    const std::shared_ptr<TTessraData> LObject = ASlot.Get();
    if (const TDataNode* LDefault = DefaultOf(AName); LDefault && NodeEqualsObject(*LDefault, LObject.get()))
      return;
    if (LObject)
      WriteRecord(FWriter, *LObject, AName, true, FDefaults, FTimes);
    else
      FWriter.Element(AName, "");
  }
  void ObjectList(const char* AName, const TObjectListSlot& ASlot) override {
    if (const TDataNode* LDefault = DefaultOf(AName); LDefault && NodeEqualsObjectList(*LDefault, ASlot))
      return;
    FWriter.BeginElement(AName);
    const std::size_t LCount = ASlot.Count();
    for (std::size_t I = 0; I < LCount; ++I)
      if (const std::shared_ptr<TTessraData> LItem = ASlot.At(I))
        WriteRecord(FWriter, *LItem, "Item", true, FDefaults, FTimes);
    FWriter.EndElement();
  }

private:
  const TDataNode* DefaultOf(const char* AName) const { return FDefault ? FDefault->Find(AName) : nullptr; }

  void Value(const char* AName, std::string_view AText) {
    if (const TDataNode* LDefault = DefaultOf(AName); LDefault && NodeEqualsValue(*LDefault, AText)) return;
    FWriter.Element(AName, AText);
  }
  template <class TNumber>
  void Number(const char* AName, TNumber AValue) {
    char LText[16];
    const auto LResult = std::to_chars(LText, LText + sizeof LText, AValue);
    Value(AName, std::string_view(LText, static_cast<std::size_t>(LResult.ptr - LText)));
  }

  TXmlWriter& FWriter;
  TDefaultMembers* const FDefaults;
  const TDataNode* const FDefault;
  const TXmlTimes FTimes;
};

// The element of one record: named AName, with the record's class in an attribute where a member
// or a list item may hold more than one class.
void WriteRecord(TXmlWriter& AWriter, const TTessraData& ARecord, std::string_view AName, bool AWithClass,
                 TDefaultMembers* ADefaults, TXmlTimes ATimes) {
  const std::string LClassName = ARecord.ClassName();
  AWriter.BeginElement(AName);
  if (AWithClass) AWriter.Attribute(CClassAttribute, LClassName);
  TMemberWriter LMembers(AWriter, ADefaults, ADefaults ? ADefaults->Of(LClassName) : nullptr, ATimes);
  // The description hands out references for reading and writing alike; this visitor only reads.
  const_cast<TTessraData&>(ARecord).DescribeMembers(LMembers);
  AWriter.EndElement();
}

// An element's text as the tree of texts has it: its text children together, or nothing when it
// holds elements. Points into the document, or into a scratch text.
class TElementText {
public:
  TElementText(pugi::xml_node AElement, std::string& AScratch) {
    const pugi::xml_node LFirst = AElement.first_child();
    if (!LFirst) return;
    if (!LFirst.next_sibling() && (LFirst.type() == pugi::node_pcdata || LFirst.type() == pugi::node_cdata)) {
      FText = LFirst.value();
      FSize = std::strlen(FText);
      return;
    }
    AScratch.clear();
    for (pugi::xml_node LChild = LFirst; LChild; LChild = LChild.next_sibling()) {
      if (LChild.type() == pugi::node_element) {
        AScratch.clear();
        return;
      }
      if (LChild.type() == pugi::node_pcdata || LChild.type() == pugi::node_cdata) AScratch += LChild.value();
    }
    FText = AScratch.c_str();
    FSize = AScratch.size();
  }
  // Ends with a NUL.
  const char* Data() const { return FText; }
  std::size_t Size() const { return FSize; }
  std::string_view View() const { return {FText, FSize}; }

private:
  const char* FText = "";
  std::size_t FSize = 0;
};

// The classes found to be of the base class a member asks for, during one read: the records of a
// document are mostly of a few classes.
class TKnownClasses {
public:
  // A new object of AClassName, which was found to be ABaseClass or a descendant before; null when
  // it was not.
  std::shared_ptr<TTessraData> Create(const char* AClassName, const char* ABaseClass) const {
    for (const auto& [LClassName, LBaseClass] : FKnown)
      if (LBaseClass == ABaseClass && LClassName == AClassName)
        return TClassRegistry::Instance().Create(LClassName);
    return nullptr;
  }
  void Add(const char* AClassName, const char* ABaseClass) { FKnown.emplace_back(AClassName, ABaseClass); }

private:
  std::vector<std::pair<std::string, const char*>> FKnown;
};

// Reads a record's members from the child elements of its element, as NodeToRecord reads them from
// the element's tree of texts: the first child element of a member's name is the member.
class TMemberReader final : public IMemberVisitor {
public:
  TMemberReader(pugi::xml_node AElement, TKnownClasses& AClasses)
      : FElement(AElement), FNext(AElement.first_child()), FClasses(AClasses) {}
  bool ModifiesTarget() const override { return true; }

  void String(const char* AName, std::string& AValue) override {
    if (const pugi::xml_node LNode = Find(AName)) AValue.assign(Text(LNode).View());
  }
  void Integer(const char* AName, int32_t& AValue) override {
    if (const pugi::xml_node LNode = Find(AName)) AValue = TextToInteger(Text(LNode).View(), AName);
  }
  void Byte(const char* AName, uint8_t& AValue) override {
    if (const pugi::xml_node LNode = Find(AName)) AValue = TextToByte(Text(LNode).View(), AName);
  }
  void Boolean(const char* AName, bool& AValue) override {
    if (const pugi::xml_node LNode = Find(AName)) AValue = TextToBoolean(Text(LNode).View(), AName);
  }
  void DateTime(const char* AName, TDateTime& AValue) override {
    if (const pugi::xml_node LNode = Find(AName)) {
      const TElementText LText = Text(LNode);
      AValue = TextToDateTimeMember(LText.Data(), LText.Size());
    }
  }
  void Strings(const char* AName, std::vector<std::string>& AValue) override {
    const pugi::xml_node LNode = Find(AName);
    if (!LNode) return;
    AValue.clear();
    for (pugi::xml_node LItem = LNode.first_child(); LItem; LItem = LItem.next_sibling())
      if (LItem.type() == pugi::node_element) AValue.emplace_back(Text(LItem).View());
  }
  void Object(const char* AName, const TObjectSlot& ASlot) override {
    const pugi::xml_node LNode = Find(AName);
    if (!LNode) return;
    if (!*LNode.attribute(CClassAttribute).value()) {
      ASlot.Set(nullptr);
      return;
    }
    if (std::shared_ptr<TTessraData> LObject = Create(LNode, ASlot.BaseClass)) ASlot.Set(LObject);
  }
  void ObjectList(const char* AName, const TObjectListSlot& ASlot) override {
    const pugi::xml_node LNode = Find(AName);
    if (!LNode) return;
    ASlot.Clear();
    for (pugi::xml_node LItem = LNode.first_child(); LItem; LItem = LItem.next_sibling())
      if (LItem.type() == pugi::node_element)
        if (std::shared_ptr<TTessraData> LObject = Create(LItem, ASlot.ItemClass)) ASlot.Append(LObject);
  }

private:
  // Members come in the order they were written, so a search goes on from the element found last.
  // The elements passed before that leave a bit each (by their name's hash) in FPassed; only when
  // AName's bit is set there might an earlier element bear it, and the search starts from the first.
  pugi::xml_node Find(const char* AName) {
    const uint64_t LBit = NameBit(AName);
    if (FPassed & LBit) {
      for (pugi::xml_node LChild = FElement.first_child(); LChild; LChild = LChild.next_sibling())
        if (LChild.type() == pugi::node_element && std::strcmp(LChild.name(), AName) == 0) return LChild;
      return {};
    }
    uint64_t LPassed = FPassed;
    for (pugi::xml_node LChild = FNext; LChild; LChild = LChild.next_sibling()) {
      if (LChild.type() != pugi::node_element) continue;
      const char* LName = LChild.name();
      LPassed |= NameBit(LName);
      if (LName[0] == AName[0] && std::strcmp(LName, AName) == 0) {
        FPassed = LPassed;
        FNext = LChild.next_sibling();
        return LChild;
      }
    }
    return {};
  }
  // From the first three characters and the fifth: the members of a record differ in those
  // ("IsManual", "IsRegularJob"; "LastRun", "LastDrop").
  static uint64_t NameBit(const char* AName) {
    unsigned LHash = 0;
    for (const unsigned LWeight : {7u, 3u, 5u, 0u, 1u}) {
      if (!*AName) break;
      LHash += LWeight * static_cast<unsigned char>(*AName++);
    }
    return uint64_t{1} << (LHash % 64);
  }
  TElementText Text(pugi::xml_node ANode) { return TElementText(ANode, FScratch); }

  std::shared_ptr<TTessraData> Create(pugi::xml_node AElement, const char* ABaseClass) {
    const char* LClassName = AElement.attribute(CClassAttribute).value();
    std::shared_ptr<TTessraData> LObject = FClasses.Create(LClassName, ABaseClass);
    if (!LObject) {
      LObject = CreateRecordOfClass(LClassName, AElement.name(), ABaseClass);
      if (!LObject) return nullptr;
      FClasses.Add(LClassName, ABaseClass);
    }
    TMemberReader LReader(AElement, FClasses);
    LObject->DescribeMembers(LReader);
    return LObject;
  }

  const pugi::xml_node FElement;
  pugi::xml_node FNext;
  uint64_t FPassed = 0;
  TKnownClasses& FClasses;
  std::string FScratch;
};

// A writer starts with room for the largest text a serializer of this process wrote: a file is
// mostly about as large as it was at its last save, and the room is only touched as far as it is
// used.
std::atomic<std::size_t> GLargestText{0};
constexpr std::size_t CMaxExpectedText = 256 * 1024 * 1024;

void ReadElement(pugi::xml_node AElement, TTessraData& ARecord, TKnownClasses& AClasses) {
  TMemberReader LReader(AElement, AClasses);
  ARecord.DescribeMembers(LReader);
  ARecord.MarkChanged();
}

}  // namespace

struct TXmlSerializer::TState {
  // Writing: the writer of the text after the declaration, made at the first write.
  std::optional<TXmlWriter> Writer;
  bool HasRoot = false;
  std::unique_ptr<TDefaultMembers> Defaults;

  // Reading: the loaded document and its text (parsed in place); the current node is the last
  // entry of Path, the document itself when Path is empty.
  std::unique_ptr<std::string> Text;
  std::unique_ptr<pugi::xml_document> Document = std::make_unique<pugi::xml_document>();
  bool Loaded = false;
  std::vector<pugi::xml_node> Path;
  int MaxDepth = 0;
  bool RepairsInvalidUtf8 = false;
  int32_t RepairedUtf8Count = 0;

  pugi::xml_node Current() const { return Path.empty() ? pugi::xml_node(*Document) : Path.back(); }

  // Raises as ElementToNode(AElement, 0) would, AElement being a child of the current node.
  void CheckDepthBelow(pugi::xml_node AElement) const {
    // The document's depth settles it at once for all documents but the deepest.
    if (MaxDepth - static_cast<int>(Path.size()) <= CMaxDepth) return;
    struct TDepthCheck final : pugi::xml_tree_walker {
      bool for_each(pugi::xml_node& ANode) override {
        return ANode.type() != pugi::node_element || depth() + 1 <= CMaxDepth;
      }
    } LCheck;
    if (!AElement.traverse(LCheck)) ElementToNode(AElement, CMaxDepth + 1);  // raises
  }

  ~TState() {
    if (!Writer) return;
    for (std::size_t LLargest = GLargestText.load(); Writer->Written().size() > LLargest;)
      if (GLargestText.compare_exchange_weak(LLargest, Writer->Written().size())) break;
  }

  TXmlWriter& WriterFor(const std::string& AName, const TXmlSerializer& ASerializer) {
    if (Loaded) throw EInvalidOperation("Cannot write \"" + AName + "\" into a document that was loaded");
    if (!Writer) Writer.emplace(ASerializer.IsIndented(), std::min(GLargestText.load(), CMaxExpectedText));
    if (Writer->Depth() == 0 && HasRoot)
      throw EInvalidOperation("Cannot write \"" + AName + "\": the document has a root element already");
    return *Writer;
  }

  // The document is parsed in place: its names and texts stay in AText.
  void Parse(std::unique_ptr<std::string> AText, const std::string& ASource) {
    RepairedUtf8Count = 0;
    if (AText->empty()) throw EXmlReadError(ASource + " is empty");
    const bool LPlainUtf8 = IsPlainUtf8(*AText);
    auto LDocument = std::make_unique<pugi::xml_document>();
    const pugi::xml_parse_result LResult =
        LDocument->load_buffer_inplace(AText->data(), AText->size(), CParseOptions, pugi::encoding_auto);
    if (!LResult)
      throw EXmlReadError(ASource + " is not well-formed XML: " + LResult.description() + " at offset " +
                          std::to_string(LResult.offset));
    int LElements = 0;
    std::vector<pugi::xml_node> LDeclarations;
    for (pugi::xml_node LChild : LDocument->children()) {
      if (LChild.type() == pugi::node_element) ++LElements;
      if (LChild.type() == pugi::node_declaration) LDeclarations.push_back(LChild);
      if ((LChild.type() == pugi::node_pcdata || LChild.type() == pugi::node_cdata) &&
          !IsBlank(LChild.value()))
        throw EXmlReadError(ASource + " is not an XML document: it holds text outside its root element");
    }
    if (LElements == 0) throw EXmlReadError(ASource + " is not an XML document: it has no root element");
    if (LElements > 1)
      throw EXmlReadError(ASource + " is not an XML document: it has more than one root element");
    // GetXml writes its own declaration.
    for (pugi::xml_node LDeclaration : LDeclarations) LDocument->remove_child(LDeclaration);
    // The parser passes any bytes through; what we would write back must be a document that
    // declares UTF-8 truthfully.
    TUtf8Check LUtf8(RepairsInvalidUtf8);
    TDepthGauge LDepth;
    LDocument->traverse(LPlainUtf8 ? static_cast<pugi::xml_tree_walker&>(LDepth) : LUtf8);
    if (LUtf8.Count > 0 && !RepairsInvalidUtf8)
      throw EXmlReadError(ASource + " is not valid UTF-8: " + std::to_string(LUtf8.Count) +
                          " byte sequences are not characters, the first in \"" + LUtf8.FirstElement + "\"");
    Document = std::move(LDocument);
    Text = std::move(AText);
    Loaded = true;
    MaxDepth = LPlainUtf8 ? LDepth.MaxDepth : LUtf8.MaxDepth;
    RepairedUtf8Count = static_cast<int32_t>(LUtf8.Count);
    Path.clear();
    Writer.reset();
    HasRoot = false;
  }

  std::string Describe(pugi::xml_node ANode) const {
    return ANode.type() == pugi::node_document ? std::string("the document")
                                               : "\"" + std::string(ANode.name()) + "\"";
  }

  // The child element AName of the current node, as ReadCollection finds it.
  pugi::xml_node Collection(const std::string& AName) const {
    const pugi::xml_node LCollection = Current().child(AName.c_str());
    if (LCollection) return LCollection;
    const pugi::xml_node LCurrent = Current();
    if (LCurrent.type() != pugi::node_document)
      throw EXmlReadError(Describe(LCurrent) + " holds no \"" + AName + "\"");
    if (!Document->document_element())
      throw EXmlReadError("The document is empty; \"" + AName + "\" is missing");
    throw EXmlReadError("The document's root element is \"" +
                        std::string(Document->document_element().name()) + "\", not \"" + AName + "\"");
  }
};

const char* TXmlItem::Name() const {
  return pugi::xml_node(static_cast<pugi::xml_node_struct*>(FElement)).name();
}

void TXmlItem::ReadInto(TTessraData& ARecord) const {
  ReadElement(pugi::xml_node(static_cast<pugi::xml_node_struct*>(FElement)), ARecord,
              *static_cast<TKnownClasses*>(FClasses));
}

TXmlSerializer::TXmlSerializer() : FState(std::make_unique<TState>()) {}

TXmlSerializer::~TXmlSerializer() = default;

void TXmlSerializer::BeginCollection(const std::string& AName) {
  CheckElementName(AName);
  FState->WriterFor(AName, *this).BeginElement(AName);
  FState->HasRoot = true;
}

void TXmlSerializer::EndCollection(const std::string& AName) {
  TXmlWriter* LWriter = FState->Writer ? &*FState->Writer : nullptr;
  const std::string_view LCurrent = LWriter ? LWriter->Innermost() : std::string_view();
  if (!LWriter || LWriter->Depth() == 0 || AName != LCurrent)
    throw EInvalidOperation("Cannot end the collection \"" + AName + "\": the current node is " +
                            (LWriter && LWriter->Depth() > 0 ? "\"" + std::string(LCurrent) + "\""
                                                             : std::string("the document")));
  LWriter->EndElement();
}

void TXmlSerializer::WriteObject(const TTessraData& AObject) {
  const std::string LName = AObject.ClassName();
  CheckElementName(LName);
  TXmlWriter& LWriter = FState->WriterFor(LName, *this);
  if (LeavesOutDefaults() && !FState->Defaults) FState->Defaults = std::make_unique<TDefaultMembers>();
  WriteRecord(LWriter, AObject, LName, false, LeavesOutDefaults() ? FState->Defaults.get() : nullptr);
  FState->HasRoot = true;
}

bool TXmlSerializer::EnterNode(const std::string& AName) {
  const pugi::xml_node LChild = FState->Current().child(AName.c_str());
  if (!LChild) return false;
  FState->Path.push_back(LChild);
  return true;
}

void TXmlSerializer::LeaveNode() {
  if (FState->Path.empty()) throw EInvalidOperation("Cannot leave the document level");
  FState->Path.pop_back();
}

bool TXmlSerializer::ReadNode(const std::string& AName, TDataNode& ANode) const {
  const pugi::xml_node LChild = FState->Current().child(AName.c_str());
  if (!LChild) return false;
  ANode = ElementToNode(LChild, 0);
  return true;
}

TDataNode TXmlSerializer::ReadCollection(const std::string& AName) const {
  return ElementToNode(FState->Collection(AName), 0);
}

TDataNode TXmlSerializer::ReadRoot() const {
  const pugi::xml_node LRoot = FState->Document->document_element();
  if (!LRoot) throw EXmlReadError("The document is empty");
  return ElementToNode(LRoot, 0);
}

bool TXmlSerializer::ReadObject(TTessraData& AObject) const {
  const pugi::xml_node LElement = FState->Current().child(AObject.ClassName().c_str());
  if (!LElement) return false;
  FState->CheckDepthBelow(LElement);
  TKnownClasses LClasses;
  ReadElement(LElement, AObject, LClasses);
  return true;
}

void TXmlSerializer::ReadItems(const std::string& AName,
                               const std::function<void(const TXmlItem&)>& AVisit) const {
  const pugi::xml_node LCollection = FState->Collection(AName);
  FState->CheckDepthBelow(LCollection);
  TKnownClasses LClasses;
  for (pugi::xml_node LItem = LCollection.first_child(); LItem; LItem = LItem.next_sibling())
    if (LItem.type() == pugi::node_element) AVisit(TXmlItem(LItem.internal_object(), &LClasses));
}

void TXmlSerializer::ForEachChild(const std::function<void(const std::string& AName)>& AVisit) {
  const std::size_t LDepth = FState->Path.size();
  const pugi::xml_node LParent = FState->Current();
  for (pugi::xml_node LChild = LParent.first_child(); LChild; LChild = LChild.next_sibling()) {
    if (LChild.type() != pugi::node_element) continue;
    FState->Path.push_back(LChild);
    try {
      AVisit(LChild.name());
    } catch (...) {
      FState->Path.resize(LDepth);
      throw;
    }
    FState->Path.resize(LDepth);
  }
}

void TXmlSerializer::CheckNesting() const {
  if (FState->MaxDepth > CMaxDepth)
    throw EXmlReadError("The XML is nested more than " + std::to_string(CMaxDepth) + " levels deep");
}

void TXmlSerializer::SetRepairsInvalidUtf8(bool AValue) {
  FState->RepairsInvalidUtf8 = AValue;
}

int32_t TXmlSerializer::GetRepairedUtf8Count() const {
  return FState->RepairedUtf8Count;
}

bool TXmlSerializer::SaveToFile(const std::string& AFileName) const {
  return SaveFileAtomically(AFileName, GetXml());
}

void TXmlSerializer::LoadFromFile(const std::string& AFileName) {
  auto LContent = std::make_unique<std::string>();
  if (const TFileResult LRead = ReadWholeFile(AFileName, *LContent); !LRead.Done())
    throw EXmlReadError("Cannot read \"" + AFileName +
                        "\": " + std::system_category().message(LRead.ErrorCode));
  FState->Parse(std::move(LContent), "\"" + AFileName + "\"");
}

void TXmlSerializer::LoadFromXml(const std::string& AXml) {
  FState->Parse(std::make_unique<std::string>(AXml), "The XML text");
}

std::string TXmlSerializer::GetXml() const {
  std::string LText = CDeclaration;
  if (FState->Loaded) {
    TStringWriter LWriter;
    LWriter.Text = std::move(LText);
    const unsigned LFlags =
        (IsIndented() ? pugi::format_indent : pugi::format_raw) | pugi::format_no_declaration;
    FState->Document->save(LWriter, "  ", LFlags, pugi::encoding_utf8);
    return std::move(LWriter.Text);
  }
  if (!FState->Writer) return LText;
  const std::string LClosing = FState->Writer->ClosingText();
  const std::string_view LWritten = FState->Writer->Written();
  LText.reserve(LText.size() + LWritten.size() + LClosing.size());
  LText += LWritten;
  LText += LClosing;
  return LText;
}

std::unique_ptr<TXmlSerializer> CreateXmlSerializer(const std::string& AClassName) {
  if (AClassName == "TXmlSerializer") return std::make_unique<TXmlSerializer>();
  if (AClassName == "TSmartXmlSerializer") return std::make_unique<TSmartXmlSerializer>();
  throw EClassNotFound("\"" + AClassName + "\" is not a serializer class");
}

void LogRepairedUtf8(const TXmlSerializer& ASerializer, const std::string& AFileName) {
  const int32_t LCount = ASerializer.GetRepairedUtf8Count();
  if (LCount == 0) return;
  OrvaneLogger()->Warning("%s held %d byte sequences that are not UTF-8; each was read as U+FFFD",
                          {AFileName, LCount});
}

std::string ObjectToXml(const TTessraData& AObject) {
  TXmlWriter LWriter(true);
  WriteRecord(LWriter, AObject, AObject.ClassName(), false, nullptr);
  std::string_view LText = LWriter.Written();
  while (!LText.empty() && LText.back() == '\n') LText.remove_suffix(1);
  return std::string(LText);
}

void WriteObjectXml(IXmlSink& ASink, const TTessraData& AObject, TXmlTimes ATimes) {
  const std::string LName = AObject.ClassName();
  CheckElementName(LName);
  ASink.Write(CDeclaration, std::strlen(CDeclaration));
  TXmlWriter LWriter(ASink, true);
  WriteRecord(LWriter, AObject, LName, false, nullptr, ATimes);
  LWriter.Flush();
}

namespace {

// Objects attached to log entries show their XML; other objects their class name. Logging never
// fails for it.
std::string WriteLogText(const TOrvaneObject& AObject) {
  if (const auto* LRecord = dynamic_cast<const TTessraData*>(&AObject)) {
    try {
      return ObjectToXml(*LRecord);
    } catch (const std::exception&) {
      return AObject.ClassName();
    }
  }
  return AObject.ClassName();
}

struct TLogTextWriterRegistration {
  TLogTextWriterRegistration() { TOrvaneObject::SetLogTextWriter(&WriteLogText); }
} GLogTextWriterRegistration;

}  // namespace

}  // namespace Orvane
