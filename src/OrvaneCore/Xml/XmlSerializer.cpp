#include "OrvaneCore/Xml/XmlSerializer.h"

#include <algorithm>
#include <cerrno>
#include <pugixml.hpp>
#include <string_view>
#include <system_error>
#include <vector>

#include "OrvaneCore/Logging/OrvaneLogger.h"
#include "OrvaneCore/Platform/AtomicFile.h"
#include "OrvaneCore/Platform/FileReader.h"

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

void AppendNode(pugi::xml_node AParent, const TDataNode& ANode, bool AIsTopLevel) {
  pugi::xml_node LElement = AParent.append_child(ANode.Name.c_str());
  // The element of a top-level object is named by its class already.
  if (!AIsTopLevel && ANode.Kind == TDataNode::TKind::Object && !ANode.ClassName.empty())
    LElement.append_attribute(CClassAttribute).set_value(ANode.ClassName.c_str());
  if (!ANode.Text.empty()) LElement.append_child(pugi::node_pcdata).set_value(ANode.Text.c_str());
  for (const TDataNode& LChild : ANode.Children) AppendNode(LElement, LChild, false);
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

// Checks every name and text of a parsed document for UTF-8 and, when asked, repairs them.
class TUtf8Check final : public pugi::xml_tree_walker {
public:
  explicit TUtf8Check(bool ARepair) : FRepair(ARepair) {}

  bool for_each(pugi::xml_node& ANode) override {
    Check(ANode.name(), ANode, [&](const char* AText) { ANode.set_name(AText); });
    Check(ANode.value(), ANode, [&](const char* AText) { ANode.set_value(AText); });
    for (pugi::xml_attribute LAttribute : ANode.attributes()) {
      Check(LAttribute.name(), ANode, [&](const char* AText) { LAttribute.set_name(AText); });
      Check(LAttribute.value(), ANode, [&](const char* AText) { LAttribute.set_value(AText); });
    }
    return true;
  }

  std::size_t Count = 0;
  // The element in which the first ill-formed sequence lies.
  std::string FirstElement;

private:
  template <class TSet>
  void Check(const char* AText, pugi::xml_node ANode, TSet ASet) {
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

// Members equal to those of a new object of the node's class are left out, in nested objects too.
void PruneDefaultMembers(TDataNode& ANode) {
  const std::shared_ptr<TTessraData> LFresh = TClassRegistry::Instance().Create(ANode.ClassName);
  if (LFresh) {
    const TDataNode LDefault = RecordToNode(*LFresh);
    std::erase_if(ANode.Children, [&LDefault](const TDataNode& AChild) {
      const TDataNode* LDefaultChild = LDefault.Find(AChild.Name);
      return LDefaultChild && *LDefaultChild == AChild;
    });
  }
  for (TDataNode& LChild : ANode.Children) {
    if (LChild.Kind == TDataNode::TKind::Object && !LChild.ClassName.empty()) PruneDefaultMembers(LChild);
    if (LChild.Kind == TDataNode::TKind::List)
      for (TDataNode& LItem : LChild.Children)
        if (!LItem.ClassName.empty()) PruneDefaultMembers(LItem);
  }
}

}  // namespace

struct TXmlSerializer::TState {
  pugi::xml_document Document;
  // The current node is the last entry; the document itself when empty.
  std::vector<pugi::xml_node> Path;
  bool RepairsInvalidUtf8 = false;
  int32_t RepairedUtf8Count = 0;

  pugi::xml_node Current() const { return Path.empty() ? pugi::xml_node(Document) : Path.back(); }

  void Parse(const char* AData, std::size_t ASize, const std::string& ASource) {
    RepairedUtf8Count = 0;
    if (ASize == 0) throw EXmlReadError(ASource + " is empty");
    pugi::xml_document LDocument;
    const pugi::xml_parse_result LResult =
        LDocument.load_buffer(AData, ASize, CParseOptions, pugi::encoding_auto);
    if (!LResult)
      throw EXmlReadError(ASource + " is not well-formed XML: " + LResult.description() + " at offset " +
                          std::to_string(LResult.offset));
    int LElements = 0;
    std::vector<pugi::xml_node> LDeclarations;
    for (pugi::xml_node LChild : LDocument.children()) {
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
    for (pugi::xml_node LDeclaration : LDeclarations) LDocument.remove_child(LDeclaration);
    // The parser passes any bytes through; what we would write back must be a document that
    // declares UTF-8 truthfully.
    TUtf8Check LUtf8(RepairsInvalidUtf8);
    LDocument.traverse(LUtf8);
    if (LUtf8.Count > 0 && !RepairsInvalidUtf8)
      throw EXmlReadError(ASource + " is not valid UTF-8: " + std::to_string(LUtf8.Count) +
                          " byte sequences are not characters, the first in \"" + LUtf8.FirstElement + "\"");
    Document.reset(LDocument);
    RepairedUtf8Count = static_cast<int32_t>(LUtf8.Count);
    Path.clear();
  }

  std::string Describe(pugi::xml_node ANode) const {
    return ANode.type() == pugi::node_document ? std::string("the document")
                                               : "\"" + std::string(ANode.name()) + "\"";
  }
};

TXmlSerializer::TXmlSerializer() : FState(std::make_unique<TState>()) {}

TXmlSerializer::~TXmlSerializer() = default;

void TXmlSerializer::BeginCollection(const std::string& AName) {
  CheckElementName(AName);
  pugi::xml_node LCurrent = FState->Current();
  if (LCurrent.type() == pugi::node_document && FState->Document.document_element())
    throw EInvalidOperation("Cannot begin the collection \"" + AName +
                            "\": the document has a root element already");
  FState->Path.push_back(LCurrent.append_child(AName.c_str()));
}

void TXmlSerializer::EndCollection(const std::string& AName) {
  if (FState->Path.empty() || AName != FState->Path.back().name())
    throw EInvalidOperation("Cannot end the collection \"" + AName + "\": the current node is " +
                            FState->Describe(FState->Current()));
  FState->Path.pop_back();
}

void TXmlSerializer::WriteObject(const TTessraData& AObject) {
  TDataNode LNode = RecordToNode(AObject, AObject.ClassName());
  CheckElementName(LNode.Name);
  PrepareObjectNode(LNode);
  pugi::xml_node LCurrent = FState->Current();
  if (LCurrent.type() == pugi::node_document && FState->Document.document_element())
    throw EInvalidOperation("Cannot write \"" + LNode.Name + "\": the document has a root element already");
  AppendNode(LCurrent, LNode, true);
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
  TDataNode LNode;
  if (ReadNode(AName, LNode)) return LNode;
  const pugi::xml_node LCurrent = FState->Current();
  if (LCurrent.type() != pugi::node_document)
    throw EXmlReadError(FState->Describe(LCurrent) + " holds no \"" + AName + "\"");
  if (!FState->Document.document_element())
    throw EXmlReadError("The document is empty; \"" + AName + "\" is missing");
  throw EXmlReadError("The document's root element is \"" +
                      std::string(FState->Document.document_element().name()) + "\", not \"" + AName + "\"");
}

TDataNode TXmlSerializer::ReadRoot() const {
  const pugi::xml_node LRoot = FState->Document.document_element();
  if (!LRoot) throw EXmlReadError("The document is empty");
  return ElementToNode(LRoot, 0);
}

bool TXmlSerializer::ReadObject(TTessraData& AObject) const {
  TDataNode LNode;
  if (!ReadNode(AObject.ClassName(), LNode)) return false;
  NodeToRecord(LNode, AObject);
  return true;
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
  std::string LContent;
  if (const TFileResult LRead = ReadWholeFile(AFileName, LContent); !LRead.Done())
    throw EXmlReadError("Cannot read \"" + AFileName + "\": " + std::system_category().message(LRead.ErrorCode));
  FState->Parse(LContent.data(), LContent.size(), "\"" + AFileName + "\"");
}

void TXmlSerializer::LoadFromXml(const std::string& AXml) {
  FState->Parse(AXml.data(), AXml.size(), "The XML text");
}

std::string TXmlSerializer::GetXml() const {
  TStringWriter LWriter;
  LWriter.Text = CDeclaration;
  const unsigned LFlags =
      (IsIndented() ? pugi::format_indent : pugi::format_raw) | pugi::format_no_declaration;
  FState->Document.save(LWriter, "  ", LFlags, pugi::encoding_utf8);
  return std::move(LWriter.Text);
}

void TXmlSerializer::PrepareObjectNode(TDataNode&) const {}

void TSmartXmlSerializer::PrepareObjectNode(TDataNode& ANode) const {
  PruneDefaultMembers(ANode);
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
  pugi::xml_document LDocument;
  AppendNode(LDocument, RecordToNode(AObject, AObject.ClassName()), true);
  TStringWriter LWriter;
  LDocument.save(LWriter, "  ", pugi::format_indent | pugi::format_no_declaration, pugi::encoding_utf8);
  while (!LWriter.Text.empty() && LWriter.Text.back() == '\n') LWriter.Text.pop_back();
  return std::move(LWriter.Text);
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
