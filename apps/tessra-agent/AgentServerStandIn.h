#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "OrvaneCore/DataTransfer/DataTransfer.h"
#include "OrvaneCore/Interfaces/JobExecStateReporter.Intf.h"
#include "OrvaneCore/Jobs/JobTypes.h"
#include "OrvaneCore/Platform/Mutex.h"

namespace Orvane {

// Plays the management server on this machine. It answers the job-list request from the jobs file
// (read again at every request, so an edited file takes effect at the next reload) or from the
// built-in list, and keeps its state in DATA/server/:
//   handed-out   the manual jobs already handed out, by execution id or else identifier, one a line;
//                each manual job of the file is handed out once, also across restarts
//   cancelled    manual job ids that the "server" no longer knows: the client aborts them
//   aborted      execution ids whose start is answered with "aborted"
//   reports.log  one line per start and finish report (the previous one kept as reports.log.1)
// The request and the response are classes of the module; they are read and filled through their
// member description, under the member names that the job-list request has.
class TAgentServerStandIn : public IServerRequestSender, public IJobExecStateReporter {
public:
  // AJobsFile empty: the built-in job list. Reads the jobs file once and throws EXmlReadError when
  // it cannot be read, so that a bad file stops the agent at start instead of running without it.
  TAgentServerStandIn(std::string ADataDir, std::string AJobsFile);

  int32_t SendRequest(TRequest& ARequest, TResponse& AResponse) override;
  bool ReportJobStarted(const std::string& AExecutionId, const std::string& AJobIdentifier,
                        const std::string& AReserved) override;
  void ReportJobFinished(const std::string& AExecutionId, const std::string& AJobIdentifier,
                         TJobResult AResult, const std::string& AReserved) override;

  const std::string& GetServerDir() const { return FServerDir; }
  // reports.log is started afresh above this size.
  static constexpr uint64_t CReportsLogLimit = 1024 * 1024;

private:
  // The current job list: the file as it reads now, or the last good one (logged) when it does not.
  TJobList CurrentJobList() REQUIRES(FLock);
  TJobList ReadJobsFile() const;
  std::vector<std::string> ReadLines(const std::string& AName) const;
  void AppendLine(const std::string& AName, const std::string& ALine) const;
  void WriteReport(const std::string& ALine) REQUIRES(FLock);

  const std::string FServerDir;
  const std::string FJobsFile;
  TMutex FLock;
  TJobList FLastGoodJobList GUARDED_BY(FLock);
};

}  // namespace Orvane
