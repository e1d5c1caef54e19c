#include "AgentServerStandIn.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <set>
#include <utility>

#include "DefaultJobList.h"
#include "OrvaneCore/Base/Exceptions.h"
#include "OrvaneCore/Base/Strings.h"
#include "OrvaneCore/Data/DataNode.h"
#include "OrvaneCore/Jobs/Job.h"
#include "OrvaneCore/Jobs/JobAction.h"
#include "OrvaneCore/Logging/OrvaneLogger.h"
#include "OrvaneCore/Platform/Paths.h"
#include "OrvaneCore/Time/DateTime.h"
#include "OrvaneCore/Xml/SerializerHelper.h"
#include "OrvaneCore/Xml/XmlSerializer.h"

namespace Orvane {

namespace {

constexpr const char* CHandedOutFile = "handed-out";
constexpr const char* CCancelledFile = "cancelled";
constexpr const char* CAbortedFile = "aborted";
constexpr const char* CReportsFile = "reports.log";

bool ContainsText(const std::vector<std::string>& AList, const std::string& AText) {
  return std::any_of(AList.begin(), AList.end(),
                     [&](const std::string& LItem) { return SameText(LItem, AText); });
}

// A manual job is remembered by the run the server made it for, else by its identifier.
std::string HandOutKey(const TJob& AJob) {
  const std::shared_ptr<TJobAction> LAction = AJob.GetJobAction();
  if (LAction && !LAction->ExecutionId.empty()) return LAction->ExecutionId;
  return AJob.GetIdentifier();
}

std::string LocalTimeText() {
  const TDateTimeParts L = DecodeDateTime(Now());
  char LText[32];
  std::snprintf(LText, sizeof(LText), "%04d-%02d-%02d %02d:%02d:%02d", L.Year, L.Month, L.Day, L.Hour,
                L.Minute, L.Second);
  return LText;
}

const char* ResultText(TJobResult AResult) {
  switch (AResult) {
    case TJobResult::jrSucceeded:
      return "succeeded";
    case TJobResult::jrFailed:
      return "failed";
    case TJobResult::jrCutShort:
      return "cut short";
    default:
      return "no result";
  }
}

}  // namespace

TAgentServerStandIn::TAgentServerStandIn(std::string ADataDir, std::string AJobsFile)
    : FServerDir(IncludeTrailingPathDelimiter(std::move(ADataDir)) + "server"),
      FJobsFile(std::move(AJobsFile)) {
  if (!ForceDirectories(FServerDir)) throw EOSError("Cannot create the directory " + FServerDir, errno);
  TMutexLock LLock(FLock);
  FLastGoodJobList = FJobsFile.empty() ? BuildDefaultJobList() : ReadJobsFile();
}

TJobList TAgentServerStandIn::ReadJobsFile() const {
  TXmlSerializer LSerializer;
  LSerializer.LoadFromFile(FJobsFile);
  TJobList LJobs;
  TAbstractSerializerHelper::InternalDeserialize<TJob>(LSerializer, LJobs, "TJobList", "TJob",
                                                       [] { return std::make_shared<TJob>(); });
  return LJobs;
}

TJobList TAgentServerStandIn::CurrentJobList() {
  if (FJobsFile.empty()) return FLastGoodJobList;
  try {
    FLastGoodJobList = ReadJobsFile();
  } catch (const std::exception& E) {
    OrvaneLogger()->Error("The jobs file %s cannot be read; the last job list read is used: %s",
                          {FJobsFile, std::string(E.what())});
  }
  return FLastGoodJobList;
}

std::vector<std::string> TAgentServerStandIn::ReadLines(const std::string& AName) const {
  std::vector<std::string> LLines;
  std::ifstream LStream(FServerDir + "/" + AName);
  std::string LLine;
  while (std::getline(LStream, LLine)) {
    LLine = Trim(LLine);
    if (!LLine.empty() && LLine[0] != '#') LLines.push_back(LLine);
  }
  return LLines;
}

void TAgentServerStandIn::AppendLine(const std::string& AName, const std::string& ALine) const {
  const std::string LFileName = FServerDir + "/" + AName;
  std::ofstream LStream(LFileName, std::ios::app);
  LStream << ALine << '\n';
  LStream.flush();
  if (!LStream) OrvaneLogger()->Error("Cannot write to %s", {LFileName});
}

int32_t TAgentServerStandIn::SendRequest(TRequest& ARequest, TResponse& AResponse) {
  const TDataNode LRequest = RecordToNode(ARequest);
  std::vector<std::string> LManualJobIds;
  if (const TDataNode* LIds = LRequest.Find("ManualJobIds"))
    for (const TDataNode& LItem : LIds->Children) LManualJobIds.push_back(LItem.Text);

  TMutexLock LLock(FLock);
  const std::vector<std::string> LCancelled = ReadLines(CCancelledFile);
  TDataNode LExisting{"ExistingManualJobIds", TDataNode::TKind::Strings, "", "", {}};
  for (const std::string& LId : LManualJobIds)
    if (!ContainsText(LCancelled, LId))
      LExisting.Children.push_back({"Item", TDataNode::TKind::Value, LId, "", {}});

  std::vector<std::string> LHandedOut = ReadLines(CHandedOutFile);
  TDataNode LJobList{"JobList", TDataNode::TKind::List, "", "", {}};
  for (const TJobPtr& LJob : CurrentJobList()) {
    if (LJob->GetIsManual()) {
      const std::string LKey = HandOutKey(*LJob);
      if (ContainsText(LHandedOut, LKey)) continue;
      // Recorded before it is handed out: a crash in between loses the job, never runs it twice.
      AppendLine(CHandedOutFile, LKey);
      LHandedOut.push_back(LKey);
    }
    LJobList.Children.push_back(RecordToNode(*LJob, "Item"));
  }

  TDataNode LResponse = RecordToNode(AResponse);
  LResponse.Children = {std::move(LJobList), std::move(LExisting)};
  NodeToRecord(LResponse, AResponse);
  return 0;
}

void TAgentServerStandIn::WriteReport(const std::string& ALine) {
  const std::string LFileName = FServerDir + "/" + CReportsFile;
  struct stat LStat {};
  if (stat(LFileName.c_str(), &LStat) == 0 && static_cast<uint64_t>(LStat.st_size) >= CReportsLogLimit)
    std::rename(LFileName.c_str(), (LFileName + ".1").c_str());
  AppendLine(CReportsFile, LocalTimeText() + " " + ALine);
}

bool TAgentServerStandIn::ReportJobStarted(const std::string& AExecutionId, const std::string& AJobIdentifier,
                                           const std::string&) {
  TMutexLock LLock(FLock);
  const bool LAborted = ContainsText(ReadLines(CAbortedFile), AExecutionId);
  WriteReport((LAborted ? "aborted " : "started ") + AExecutionId + " " + AJobIdentifier);
  return LAborted;
}

void TAgentServerStandIn::ReportJobFinished(const std::string& AExecutionId,
                                            const std::string& AJobIdentifier, TJobResult AResult,
                                            const std::string&) {
  TMutexLock LLock(FLock);
  WriteReport(std::string("finished ") + AExecutionId + " " + AJobIdentifier + " " + ResultText(AResult));
}

}  // namespace Orvane
