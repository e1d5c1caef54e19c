#include "AgentServerStandIn.h"

#include <cstdio>
#include <utility>

#include "DefaultJobList.h"
#include "JobListAnswer.h"
#include "OrvaneCore/Logging/OrvaneLogger.h"
#include "OrvaneCore/Platform/Paths.h"
#include "OrvaneCore/Platform/SafeFiles.h"
#include "OrvaneCore/Time/DateTime.h"
#include "OrvaneCore/Xml/XmlSerializer.h"

namespace Orvane {

namespace {

constexpr const char* CServerDir = "server";
constexpr const char* CCancelledFile = "server/cancelled";
constexpr const char* CAbortedFile = "server/aborted";
constexpr const char* CReportsFile = "server/reports.log";

std::string LocalTimeText() {
  const TDateTimeParts L = DecodeDateTime(Now());
  char LText[32];
  std::snprintf(LText, sizeof(LText), "%04d-%02d-%02d %02d:%02d:%02d", L.Year, L.Month, L.Day, L.Hour,
                L.Minute, L.Second);
  return LText;
}

}  // namespace

TAgentServerStandIn::TAgentServerStandIn(std::string ADataDir, std::string AJobsFile)
    : FDataDir(std::move(ADataDir)), FJobsFile(std::move(AJobsFile)) {
  // Where the files are to be written; each write makes it again when it must.
  if (const TFileResult LMade = MakeOwnerDirectories(FDataDir, CServerDir); !LMade.Done())
    OrvaneLogger()->Error("The server's directory cannot be made: %s", {LMade.Error});
  TMutexLock LLock(FLock);
  if (FJobsFile.empty()) {
    FLastGoodJobList = BuildDefaultJobList();
    return;
  }
  FJobsFileVersion = FileVersionOf(FJobsFile);
  FLastGoodJobList = ReadJobsFile();
}

TJobList TAgentServerStandIn::ReadJobsFile() const {
  TXmlSerializer LSerializer;
  LSerializer.LoadFromFile(FJobsFile);
  return ReadJobList(LSerializer);
}

const TJobList& TAgentServerStandIn::CurrentJobList() {
  if (FJobsFile.empty()) return FLastGoodJobList;
  // A file as it was at the last good read is not parsed again: a large list costs its parse once.
  const std::optional<TFileVersion> LVersion = FileVersionOf(FJobsFile);
  if (LVersion && LVersion == FJobsFileVersion) return FLastGoodJobList;
  try {
    FLastGoodJobList = ReadJobsFile();
    FJobsFileVersion = LVersion;
  } catch (const std::exception& E) {
    OrvaneLogger()->Error("The jobs file %s cannot be read; the last job list read is used: %s",
                          {FJobsFile, std::string(E.what())});
  }
  return FLastGoodJobList;
}

std::vector<std::string> TAgentServerStandIn::ReadLines(const std::string& AName) const {
  std::string LContent;
  if (const TFileResult LRead = ReadWholeFile(FDataDir, AName, LContent);
      !LRead.Done() && LRead.Status != TFileResult::TStatus::Missing)
    OrvaneLogger()->Error("The server's file cannot be read: %s", {LRead.Error});
  return ParseIdLines(LContent);
}

int32_t TAgentServerStandIn::SendRequest(TRequest& ARequest, TResponse& AResponse) {
  TMutexLock LLock(FLock);
  FillJobListAnswer(ARequest, AResponse, CurrentJobList(), ReadLines(CCancelledFile));
  return 0;
}

void TAgentServerStandIn::WriteReport(const std::string& ALine) {
  const std::string LLine = LocalTimeText() + " " + ALine;
  if (const TFileResult LWritten = AppendToFile(FDataDir, CReportsFile, LLine + "\n", CReportsLogLimit);
      !LWritten.Done())
    OrvaneLogger()->Error("A report cannot be written to the reports log (%s); the report: %s",
                          {LWritten.Error, LLine});
}

bool TAgentServerStandIn::ReportJobStarted(const std::string& AExecutionId, const std::string& AJobIdentifier,
                                           const std::string&) {
  TMutexLock LLock(FLock);
  const bool LAborted = ContainsId(ReadLines(CAbortedFile), AExecutionId);
  WriteReport((LAborted ? "aborted " : "started ") + AExecutionId + " " + AJobIdentifier);
  return LAborted;
}

void TAgentServerStandIn::ReportJobFinished(const std::string& AExecutionId,
                                            const std::string& AJobIdentifier, TJobResult AResult,
                                            const std::string&) {
  TMutexLock LLock(FLock);
  WriteReport(std::string("finished ") + AExecutionId + " " + AJobIdentifier + " " + JobResultText(AResult));
}

}  // namespace Orvane
