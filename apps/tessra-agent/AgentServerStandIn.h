#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "OrvaneCore/DataTransfer/DataTransfer.h"
#include "OrvaneCore/Interfaces/JobExecStateReporter.Intf.h"
#include "OrvaneCore/Jobs/JobTypes.h"
#include "OrvaneCore/Platform/Mutex.h"
#include "OrvaneCore/Platform/Paths.h"

namespace Orvane {

// Plays the management server on this machine, as a static server would. It answers the job-list
// request with every job of the jobs file (read again at a request when it changed, so an edited file takes
// effect at the next reload) or of the built-in list; which of its manual jobs the client has
// taken already is the client's own record (TTakenManualJobs). It keeps its state in DATA/server/:
//   cancelled    manual job ids that the "server" no longer knows: the client aborts them
//   aborted      execution ids whose start is answered with "aborted"
//   reports.log  one line per start and finish report (the previous one kept as reports.log.1)
// None of them is reached through a symbolic link. A report that cannot be written is logged as an
// error that carries the report itself, so it is never lost without a trace.
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

  // reports.log is started afresh above this size.
  static constexpr uint64_t CReportsLogLimit = 1024 * 1024;

private:
  // The current job list: the file as it reads now, or the last good one (logged) when it does not.
  const TJobList& CurrentJobList() REQUIRES(FLock);
  TJobList ReadJobsFile() const;
  std::vector<std::string> ReadLines(const std::string& AName) const;
  void WriteReport(const std::string& ALine) REQUIRES(FLock);

  const std::string FDataDir;
  const std::string FJobsFile;
  TMutex FLock;
  TJobList FLastGoodJobList GUARDED_BY(FLock);
  std::optional<TFileVersion> FJobsFileVersion GUARDED_BY(FLock);  // of the file FLastGoodJobList was read from
};

}  // namespace Orvane
