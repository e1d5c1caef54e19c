#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "OrvaneCore/Data/MemberVisitor.h"

namespace Orvane {

// A record's members as a tree of texts: the neutral form between a record and its XML, and the
// means of Assign, Clone and data equality.
//
//   Value      Text is the member's value (integers in decimal, Booleans "true"/"false", date and
//              time with 17 significant digits so that every value round-trips)
//   Strings    Children are Value nodes named "Item"
//   Object     ClassName names the object's class (empty: no object); Children are its members
//   List       Children are Object nodes, one per item
struct TDataNode {
  enum class TKind { Value, Strings, Object, List };

  std::string Name;
  TKind Kind = TKind::Value;
  std::string Text;
  std::string ClassName;
  std::vector<TDataNode> Children;

  bool operator==(const TDataNode& AOther) const = default;
  const TDataNode* Find(const std::string& AName) const;
};

// The record as an Object node named AName.
TDataNode RecordToNode(const TTessraData& ARecord, const std::string& AName = "");

// Reads the members of ANode (an Object node) into ARecord. Members missing from the node keep
// their values; polymorphic members are created through the class registry. An item of an unknown
// class, or of a class outside the member's base class, is skipped with a logged error and the
// items after it are read. A value that is not a valid text for its member raises EConvertError.
void NodeToRecord(const TDataNode& ANode, TTessraData& ARecord);

// Creates the record an Object node describes; nullptr (logged) when its class is unknown or not
// ABaseClass or a descendant.
std::shared_ptr<TTessraData> CreateRecordFromNode(const TDataNode& ANode, const std::string& ABaseClass);
// The same for an item named AItemName of class AClassName, before its members are read.
std::shared_ptr<TTessraData> CreateRecordOfClass(const std::string& AClassName, const std::string& AItemName,
                                                 const std::string& ABaseClass);

// A member's text as NodeToRecord reads it into the member's type; EConvertError, naming the member
// AName, when the text is not a valid value.
int32_t TextToInteger(std::string_view AText, std::string_view AName);
uint8_t TextToByte(std::string_view AText, std::string_view AName);
bool TextToBoolean(std::string_view AText, std::string_view AName);
// AText ends with a NUL (AText[ASize]).
TDateTime TextToDateTimeMember(const char* AText, std::size_t ASize);
// AValue as DateTimeToText writes it (printf's "%.17g"), into ABuffer of 32 bytes; its length.
std::size_t DateTimeToChars(TDateTime AValue, char* ABuffer);

// Whether ANode is what RecordToNode makes of a member, without making it: a value's text, a list
// of texts, an object (null: none) or the objects of a list slot. The names are not compared.
bool NodeEqualsValue(const TDataNode& ANode, std::string_view AText);
bool NodeEqualsStrings(const TDataNode& ANode, const std::vector<std::string>& AItems);
bool NodeEqualsObject(const TDataNode& ANode, const TTessraData* AObject);
bool NodeEqualsObjectList(const TDataNode& ANode, const TObjectListSlot& ASlot);

}  // namespace Orvane
