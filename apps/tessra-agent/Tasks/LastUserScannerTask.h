#pragma once

#include <string>

#include "Tasks/LastUserInventory.h"
#include "Tasks/LoginRecordReader.h"
#include "Tasks/ResultTask.h"

namespace Orvane {

// The last-user scanner, on Linux: the user who logged on last, from the system's login records,
// with terminal, remote host and logon time. Each run leaves a TLastUserInventory document in
// DATA/results/Last user Scanner/, where the newest results are kept and older ones removed.
// Records that hold no user logon (rotated this month, or a system nobody logged on to) make a
// document with UserFound false and a successful run: that is an answer, not a fault. Records that
// are missing, unreadable or truncated fail the run.
class TLastUserScannerTask : public TResultTask {
public:
  static constexpr const char* CTaskName = "Last user Scanner";

  explicit TLastUserScannerTask(const std::string& ADataDir,
                                std::string ARecordFile = TLoginRecordReader::CDefaultRecordFile);

  // The collection itself; false (logged) when the records cannot be read or the continue check
  // said stop.
  bool Collect(TLastUserInventory& AInventory, const TContinueCheck& ACanContinue) const;

protected:
  TTaskRun CollectRun(const std::string& AClientId, const std::shared_ptr<TScannerJobAction>& AJobAction,
                      const TContinueCheck& ACanContinue) override;

private:
  std::string FRecordFile;
};

}  // namespace Orvane
