#include "OrvaneCore/Xml/NativeXml.h"

#include "OrvaneCore/Base/Exceptions.h"
#include "OrvaneCore/Data/DataNode.h"
#include "OrvaneCore/Xml/XmlSerializer.h"

namespace Orvane {

namespace {

std::unique_ptr<TXmlNode> MakeNode(const TDataNode& ANode) {
  auto LNode = std::make_unique<TXmlNode>(ANode.Name, ANode.Text);
  for (const TDataNode& LChild : ANode.Children) LNode->Add(MakeNode(LChild));
  return LNode;
}

}  // namespace

TXmlNode::TXmlNode(std::string AName, std::string AValue)
    : FName(std::move(AName)), FValue(std::move(AValue)) {}

TXmlNode* TXmlNode::Nodes(int32_t AIndex) const {
  if (AIndex < 0 || AIndex >= NodeCount())
    throw EListError("Node index " + std::to_string(AIndex) + " is out of bounds (" +
                     std::to_string(NodeCount()) + " nodes below \"" + FName + "\")");
  return FNodes[static_cast<std::size_t>(AIndex)].get();
}

TXmlNode& TXmlNode::Add(std::unique_ptr<TXmlNode> ANode) {
  FNodes.push_back(std::move(ANode));
  return *FNodes.back();
}

TNativeXml::TNativeXml(const std::string& ARootName) : FRoot(std::make_unique<TXmlNode>(ARootName, "")) {}

void TNativeXml::LoadFromFile(const std::string& AFileName) {
  // One parser and one set of read errors for every XML file of the host.
  TXmlSerializer LReader;
  LReader.SetRepairsInvalidUtf8(FRepairsInvalidUtf8);
  LReader.LoadFromFile(AFileName);
  FRoot = MakeNode(LReader.ReadRoot());
}

}  // namespace Orvane
