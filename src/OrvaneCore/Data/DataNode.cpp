#include "OrvaneCore/Data/DataNode.h"

#include <charconv>
#include <limits>

#include "OrvaneCore/Base/Exceptions.h"
#include "OrvaneCore/Data/TessraData.h"
#include "OrvaneCore/Logging/OrvaneLogger.h"

namespace Orvane {

namespace {

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
    FNode.Children.push_back(ValueNode(AName, DateTimeToText(AValue)));
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
TNumber ParseNumber(const TDataNode& ANode) {
  TNumber LValue{};
  const char* LBegin = ANode.Text.data();
  const char* LEnd = LBegin + ANode.Text.size();
  const auto [LStop, LError] = std::from_chars(LBegin, LEnd, LValue);
  if (ANode.Text.empty() || LError != std::errc() || LStop != LEnd)
    throw EConvertError("'" + ANode.Text + "' is not a valid value of \"" + ANode.Name + "\"");
  return LValue;
}

// Tree to record. Members missing from the tree keep their values.
class TNodeReader final : public IMemberVisitor {
public:
  explicit TNodeReader(const TDataNode& ANode) : FNode(ANode) {}
  bool ModifiesTarget() const override { return true; }

  void String(const char* AName, std::string& AValue) override {
    if (const TDataNode* LNode = FNode.Find(AName)) AValue = LNode->Text;
  }
  void Integer(const char* AName, int32_t& AValue) override {
    if (const TDataNode* LNode = FNode.Find(AName)) AValue = ParseNumber<int32_t>(*LNode);
  }
  void Byte(const char* AName, uint8_t& AValue) override {
    if (const TDataNode* LNode = FNode.Find(AName)) {
      const int LValue = ParseNumber<int>(*LNode);
      if (LValue < 0 || LValue > std::numeric_limits<uint8_t>::max())
        throw EConvertError("'" + LNode->Text + "' is out of range for \"" + LNode->Name + "\"");
      AValue = static_cast<uint8_t>(LValue);
    }
  }
  void Boolean(const char* AName, bool& AValue) override {
    if (const TDataNode* LNode = FNode.Find(AName)) {
      if (LNode->Text == "true" || LNode->Text == "1")
        AValue = true;
      else if (LNode->Text == "false" || LNode->Text == "0")
        AValue = false;
      else
        throw EConvertError("'" + LNode->Text + "' is not a valid Boolean value of \"" + LNode->Name + "\"");
    }
  }
  void DateTime(const char* AName, TDateTime& AValue) override {
    if (const TDataNode* LNode = FNode.Find(AName)) AValue = TextToDateTime(LNode->Text);
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
}

std::shared_ptr<TTessraData> CreateRecordFromNode(const TDataNode& ANode, const std::string& ABaseClass) {
  const TClassRegistry& LRegistry = TClassRegistry::Instance();
  std::shared_ptr<TTessraData> LObject = LRegistry.Create(ANode.ClassName);
  if (!LObject) {
    OrvaneLogger()->Error("Unknown class \"%s\" of item \"%s\"; the item is skipped", {ANode.ClassName, ANode.Name});
    return nullptr;
  }
  if (!ABaseClass.empty() && !LRegistry.InheritsFrom(ANode.ClassName, ABaseClass)) {
    OrvaneLogger()->Error("Class \"%s\" of item \"%s\" is not a %s; the item is skipped",
                          {ANode.ClassName, ANode.Name, ABaseClass});
    return nullptr;
  }
  NodeToRecord(ANode, *LObject);
  return LObject;
}

}  // namespace Orvane
