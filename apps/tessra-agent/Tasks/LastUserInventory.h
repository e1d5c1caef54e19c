#pragma once

#include <cstdint>
#include <string>

#include "OrvaneCore/Data/TessraData.h"

namespace Orvane {

// What the last-user scanner found: the document it leaves in the results directory. When the
// login records hold no user logon (a fresh system, or the records were just rotated), UserFound
// is false and the user's members stay empty.
class TLastUserInventory : public TTessraData {
public:
  std::string ClassName() const override { return "TLastUserInventory"; }
  void DescribeMembers(IMemberVisitor& AVisitor) override;

  std::string ClientId;
  TDateTime ScannedAt = CNoDateTime;
  std::string SourceFile;  // the login records that were read
  int32_t LoginCount = 0;  // user logons in those records
  bool UserFound = false;
  std::string UserName;
  std::string Terminal;               // "pts/0", "tty1"
  std::string Host;                   // where a remote logon came from; empty for a local one
  TDateTime LoginTime = CNoDateTime;  // local time, like ScannedAt
};

}  // namespace Orvane
