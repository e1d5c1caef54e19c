#pragma once

#include <string>
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

}  // namespace Orvane
