#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "OrvaneCore/Base/OrvaneObject.h"

namespace Orvane {

struct TDataNode;

// One element of a TNativeXml document: its name, its text and its child elements (indentation,
// comments and attributes are not nodes here). Belongs to its document.
class TXmlNode {
public:
  TXmlNode(std::string AName, std::string AValue);
  TXmlNode(const TXmlNode&) = delete;
  TXmlNode& operator=(const TXmlNode&) = delete;

  const std::string& GetName() const { return FName; }
  // The name as text; names are UTF-8 here, so the same as GetName.
  std::string GetNameUnicode() const { return FName; }
  // The element's text when it holds no child elements.
  const std::string& GetValue() const { return FValue; }

  int32_t NodeCount() const { return static_cast<int32_t>(FNodes.size()); }
  // The child element at AIndex; EListError outside 0 .. NodeCount() - 1.
  TXmlNode* Nodes(int32_t AIndex) const;

  TXmlNode& Add(std::unique_ptr<TXmlNode> ANode);

private:
  std::string FName;
  std::string FValue;
  std::vector<std::unique_ptr<TXmlNode>> FNodes;
};

// A plain XML document for looking at element names without reading records: made with the name
// of its root element, or loaded from a file (which replaces the root).
class TNativeXml : public TOrvaneObject {
public:
  explicit TNativeXml(const std::string& ARootName);
  std::string ClassName() const override { return "TNativeXml"; }

  // EXmlReadError when the file cannot be read or is not an XML document; the document then keeps
  // what it held. Bytes that are not UTF-8 count as malformed, unless repairing is on
  // (TXmlSerializer::SetRepairsInvalidUtf8).
  void LoadFromFile(const std::string& AFileName);
  void SetRepairsInvalidUtf8(bool AValue) { FRepairsInvalidUtf8 = AValue; }
  TXmlNode* GetRoot() const { return FRoot.get(); }

private:
  std::unique_ptr<TXmlNode> FRoot;
  bool FRepairsInvalidUtf8 = false;
};

}  // namespace Orvane
