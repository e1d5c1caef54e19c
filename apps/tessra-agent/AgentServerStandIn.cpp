#include "AgentServerStandIn.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "DefaultJobList.h"
#include "OrvaneCore/Base/Exceptions.h"
#include "OrvaneCore/Base/Strings.h"
#include "OrvaneCore/Data/DataNode.h"
#include "OrvaneCore/Jobs/Job.h"
#include "OrvaneCore/Jobs/JobAction.h"
#include "OrvaneCore/Logging/OrvaneLogger.h"
#include "OrvaneCore/Platform/SafeFiles.h"
#include "OrvaneCore/Time/DateTime.h"
#include "OrvaneCore/Xml/SerializerHelper.h"
#include "OrvaneCore/Xml/XmlSerializer.h"

namespace Orvane {

namespace {

constexpr const char* CServerDir = "server";
constexpr const char* CCancelledFile = "server/cancelled";
constexpr const char* CAbortedFile = "server/aborted";
constexpr const char* CReportsFile = "server/reports.log";

bool ContainsText(const std::vector<std::string>& AList, const std::string& AText) {
  return std::any_of(AList.begin(), AList.end(),
                     [&](const std::string& LItem) { return SameText(LItem, AText); });
}

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
  std::string LContent;
  if (const TFileResult LRead = ReadWholeFile(FDataDir, AName, LContent);
      !LRead.Done() && LRead.Status != TFileResult::TStatus::Missing)
    OrvaneLogger()->Error("The server's file cannot be read: %s", {LRead.Error});
  std::vector<std::string> LLines;
  std::size_t LStart = 0;
  while (LStart < LContent.size()) {
    std::size_t LEnd = LContent.find('\n', LStart);
    if (LEnd == std::string::npos) LEnd = LContent.size();
    const std::string LLine = Trim(std::string_view(LContent).substr(LStart, LEnd - LStart));
    if (!LLine.empty() && LLine[0] != '#') LLines.push_back(LLine);
    LStart = LEnd + 1;
  }
  return LLines;
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

  TDataNode LJobList{"JobList", TDataNode::TKind::List, "", "", {}};
  for (const TJobPtr& LJob : CurrentJobList()) LJobList.Children.push_back(RecordToNode(*LJob, "Item"));

  TDataNode LResponse = RecordToNode(AResponse);
  LResponse.Children = {std::move(LJobList), std::move(LExisting)};
  NodeToRecord(LResponse, AResponse);
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
  const bool LAborted = ContainsText(ReadLines(CAbortedFile), AExecutionId);
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
