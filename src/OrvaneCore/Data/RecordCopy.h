#pragma once

namespace Orvane {

class TTessraData;

// Copying and comparing records straight from their member descriptions, with typed values: the
// same results as going through the text tree (RecordToNode, NodeToRecord), without the texts.
//
// Both read a record's description into a list of its values, in description order. A member is
// matched by its name, so each description names a member once (the XML form relies on that too).

// Copies the members ASource describes into ATarget. Members the source lacks keep their values.
// Polymorphic members and list items become new objects of the source's classes, created through
// the class registry; one of an unknown class, or of a class outside the member's base class, is
// skipped with a logged error, as a load skips it. A member that ATarget describes with another
// kind of value than ASource is converted through its text, as a save and load would.
void CopyRecordMembers(const TTessraData& ASource, TTessraData& ATarget);

// Equal members in the same order, deeply: nested objects of the same classes with equal members.
// The classes of A and B themselves are the caller's to compare.
bool RecordMembersEqual(const TTessraData& A, const TTessraData& B);

}  // namespace Orvane
