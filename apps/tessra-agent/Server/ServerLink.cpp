#include "Server/ServerLink.h"

#include <sys/stat.h>

#include <cstdio>
#include <map>
#include <stdexcept>
#include <utility>

#include "JobListAnswer.h"
#include "OrvaneCore/Logging/OrvaneLogger.h"
#include "OrvaneCore/Platform/FileReader.h"
#include "OrvaneCore/Platform/SafeFiles.h"
#include "OrvaneCore/Time/DateTime.h"
#include "OrvaneCore/Xml/XmlSerializer.h"
#include "OrvaneCore/Xml/XmlWriter.h"
#include "Server/HeaderedText.h"

namespace Orvane {

namespace {

constexpr const char* CCacheFile = "server-cache/jobs";

void CheckReadable(const std::string& AFile, const std::string& AWhat) {
  if (AFile.empty()) return;
  TFileReader LReader;
  if (const TFileResult LOpened = LReader.Open(AFile, {.RegularOnly = true}); !LOpened.Done())
    throw std::invalid_argument(AWhat + " cannot be read: " + LOpened.Error);
}

std::string UtcTimeText() {
  const TDateTimeParts L = DecodeDateTime(Clock().UtcNow());
  char LText[32];
  std::snprintf(LText, sizeof(LText), "%04d-%02d-%02dT%02d:%02d:%02dZ", L.Year, L.Month, L.Day, L.Hour, L.Minute,
                L.Second);
  return LText;
}

std::string FailureText(const THttpResult& AResult) {
  return AResult.Kind == THttpResult::TKind::Response ? "answered " + std::to_string(AResult.Status) : AResult.Error;
}

}  // namespace

void CheckServerLinkOptions(const TServerLinkOptions& AOptions) {
  // The client id is the host name when none is given; any id checks the URL alike.
  const TServerLayout LLayout(AOptions.ServerUrl, AOptions.ClientId.empty() ? "client" : AOptions.ClientId);
  if (LLayout.ServerUrl().starts_with("http://") && !AOptions.Http.AllowInsecureHttp)
    throw std::invalid_argument("the server URL " + AOptions.ServerUrl +
                                " is not https; --allow-insecure-http allows it (tests only)");
  const THttpClientOptions& LHttp = AOptions.Http;
  if (LHttp.ClientCert.empty() != LHttp.ClientKey.empty())
    throw std::invalid_argument("--client-cert and --client-key go together");
  CheckReadable(LHttp.CaFile, "the CA file " + LHttp.CaFile);
  CheckReadable(LHttp.ClientCert, "the client certificate " + LHttp.ClientCert);
  CheckReadable(LHttp.ClientKey, "the client key " + LHttp.ClientKey);
  if (!LHttp.ClientKey.empty()) {
    struct stat LStat {};
    if (stat(LHttp.ClientKey.c_str(), &LStat) != 0)
      throw std::invalid_argument("the client key " + LHttp.ClientKey + " cannot be read");
    if ((LStat.st_mode & (S_IRWXG | S_IRWXO)) != 0)
      throw std::invalid_argument("the client key " + LHttp.ClientKey +
                                  " may be read by others than its owner; chmod 600 it");
  }
}

TServerLink::TServerLink(TServerLinkOptions AOptions, std::shared_ptr<THttpClient> AHttp,
                         std::shared_ptr<TOutbox> AOutbox)
    : FOptions(std::move(AOptions)),
      FLayout(FOptions.ServerUrl, FOptions.ClientId),
      FHttp(std::move(AHttp)),
      FOutbox(std::move(AOutbox)),
      FBackOff(FOptions.FirstRetrySeconds, FOptions.MaxRetrySeconds, FOptions.Random) {
  TMutexLock LLock(FLock);
  LoadCache();
}

void TServerLink::LoadCache() {
  std::string LText;
  if (const TFileResult LRead = ReadWholeFile(FOptions.DataDir, CCacheFile, LText); !LRead.Done()) {
    if (LRead.Status != TFileResult::TStatus::Missing)
      OrvaneLogger()->Error("Server link: the kept job list cannot be read: %s", {LRead.Error});
    return;
  }
  std::map<std::string, std::string, std::less<>> LHeaders;
  std::string_view LDocument;
  if (!SplitHeaderedText(LText, LHeaders, LDocument) || !TakeJobList(std::string(LDocument), "the kept job list")) {
    OrvaneLogger()->Error("Server link: the kept job list %s/%s is not one; it is not used",
                          {FOptions.DataDir, CCacheFile});
    return;
  }
  FJobsFrom = LHeaders["From"];
  FJobsETag = LHeaders["ETag"];
  OrvaneLogger()->Message("Server link: %d jobs of the last job list kept (from %s)",
                          {static_cast<int64_t>(FJobs.size()), FJobsFrom});
}

void TServerLink::SaveCache(const std::string& ADocument) {
  // The document and its ETag in one file: a crash never pairs an ETag with another document.
  const std::string LText = JoinHeaderedText({{"From", FJobsFrom}, {"ETag", FJobsETag}}, ADocument);
  if (const TFileResult LSaved = ReplaceFile(FOptions.DataDir, CCacheFile, LText); !LSaved.Done())
    FLimiter.Error("Server link: job list not kept",
                   "Server link: the job list cannot be kept for a restart while the server is down: %s",
                   {LSaved.Error});
}

bool TServerLink::TakeJobList(const std::string& ADocument, const std::string& AFrom) {
  TJobList LJobs;
  {
    TMutexLock LLock(FStatusLock);
    ++FStatus.Parses;
  }
  try {
    TXmlSerializer LSerializer;
    LSerializer.LoadFromXml(ADocument);
    LJobs = ReadJobList(LSerializer);
  } catch (const std::exception& E) {
    FLimiter.Error("Server link: job list unreadable", "Server link: %s is not a job list; the last good one stays: %s",
                   {AFrom, std::string(E.what())});
    return false;
  }
  FJobs = std::move(LJobs);
  FHaveJobs = true;
  return true;
}

TServerLink::TFetch TServerLink::Fetch(const std::string& AUrl, const std::string& AETag, const std::string& AWhat,
                                       THttpResult& AResult) {
  AResult = FHttp->Get(AUrl, AETag);
  TFetch LFetch = TFetch::Failed;
  if (AResult.Kind == THttpResult::TKind::Response) {
    if (AResult.Status == 304 && !AETag.empty())
      LFetch = TFetch::Unchanged;
    else if (AResult.Ok())
      LFetch = TFetch::Fresh;
    else if (AResult.Status == 404 || AResult.Status == 410)
      LFetch = TFetch::Missing;
  }
  RecordFetch(AUrl, AResult, LFetch);
  if (LFetch != TFetch::Failed) return LFetch;
  FLimiter.Warning("Server link: " + AWhat + " not fetched", "Server link: %s cannot be fetched from %s (%s)",
                   {AWhat, AUrl, FailureText(AResult)});
  return TFetch::Failed;
}

void TServerLink::RecordFetch(const std::string& AUrl, const THttpResult& AResult, TFetch AFetch) {
  TMutexLock LLock(FStatusLock);
  ++FStatus.Fetches;
  if (AFetch == TFetch::Unchanged) ++FStatus.Unchanged;
  if (AFetch != TFetch::Failed) {
    FStatus.LastSuccess = Now();
    return;
  }
  FStatus.LastFailure = Now();
  FStatus.LastFailureText = AUrl + ": " + FailureText(AResult);
}

std::string TServerLink::StatusText() const {
  TLinkStatus LStatus;
  {
    TMutexLock LLock(FStatusLock);
    LStatus = FStatus;
  }
  std::string LText = "Server: " + FLayout.ServerUrl() + "\n";
  LText += "  fetches: " + std::to_string(LStatus.Fetches) + " (" + std::to_string(LStatus.Unchanged) +
           " answered 304, unchanged); job lists parsed: " + std::to_string(LStatus.Parses) + "\n";
  LText += "  last success: " + DateTimeToDisplay(LStatus.LastSuccess) + "\n";
  LText += "  last failure: " +
           (LStatus.LastFailure == CNoDateTime ? std::string("none")
                                               : DateTimeToDisplay(LStatus.LastFailure) + " " + LStatus.LastFailureText) +
           "\n";
  if (FOutbox) LText += "  outbox: " + std::to_string(FOutbox->ItemCount()) + " items to send\n";
  return LText;
}

bool TServerLink::FetchJobList() {
  // The client's own list, else the fleet's; the ETag is sent only to where the list came from.
  THttpResult LResult;
  std::string LUrl = FLayout.ClientJobList();
  TFetch LFetch = Fetch(LUrl, FJobsFrom == LUrl ? FJobsETag : "", "the client's job list", LResult);
  if (LFetch == TFetch::Missing) {
    LUrl = FLayout.FleetJobList();
    LFetch = Fetch(LUrl, FJobsFrom == LUrl ? FJobsETag : "", "the fleet's job list", LResult);
    if (LFetch == TFetch::Missing) {
      FLimiter.Error("Server link: no job list", "Server link: the server has neither %s nor %s",
                     {FLayout.ClientJobList(), LUrl});
      return false;
    }
  }
  if (LFetch == TFetch::Failed) return false;
  if (LFetch == TFetch::Unchanged) return true;
  if (!TakeJobList(LResult.Body, LUrl)) return false;
  FJobsFrom = LUrl;
  FJobsETag = LResult.ETag;
  SaveCache(LResult.Body);
  OrvaneLogger()->Message("Server link: %d jobs in the job list from %s", {static_cast<int64_t>(FJobs.size()), LUrl});
  return true;
}

bool TServerLink::FetchIdList(const std::string& AUrl, const std::string& AWhat, std::vector<std::string>& AIds,
                              std::string& AETag) {
  THttpResult LResult;
  switch (Fetch(AUrl, AETag, AWhat, LResult)) {
    case TFetch::Fresh:
      AIds = ParseIdLines(LResult.Body);
      AETag = LResult.ETag;
      return true;
    case TFetch::Missing:
      AIds.clear();
      AETag.clear();
      return true;
    case TFetch::Unchanged:
      return true;
    case TFetch::Failed:
      break;
  }
  return false;
}

int32_t TServerLink::SendRequest(TRequest& ARequest, TResponse& AResponse) {
  TMutexLock LLock(FLock);
  // Inside the back-off window the server is not asked: the answer is the last good one.
  if (!FBackOff.Waiting()) {
    if (FetchJobList() && FetchIdList(FLayout.Cancelled(), "the cancelled list", FCancelled, FCancelledETag))
      FBackOff.Succeeded();
    else
      FBackOff.Failed();
  }
  if (!FHaveJobs) {
    // An empty list would drop every automatic job the agent holds.
    FLimiter.Error("Server link: no job list yet",
                   "Server link: no job list was fetched and none is kept from an earlier run; the jobs held stay",
                   {});
    return CNoJobList;
  }
  FillJobListAnswer(ARequest, AResponse, FJobs, FCancelled);
  return 0;
}

void TServerLink::RefreshAborted(const std::string& AExecutionId) {
  if (FAbortedAsked && Clock().Monotonic() < FAbortedNextRefresh) return;
  if (FBackOff.Waiting()) {
    FLimiter.Warning("Server link: aborted list not checked",
                     "Server link: the server cannot be reached; run %s starts as the aborted list last said",
                     {AExecutionId});
    return;
  }
  FAbortedAsked = true;
  FAbortedNextRefresh = Clock().DeadlineIn(CAbortedRefreshSeconds);
  if (FetchIdList(FLayout.Aborted(), "the aborted list", FAborted, FAbortedETag)) {
    FBackOff.Succeeded();
    return;
  }
  FBackOff.Failed();
  FLimiter.Warning("Server link: aborted list not checked",
                   "Server link: the server cannot be reached; run %s starts as the aborted list last said",
                   {AExecutionId});
}

bool TServerLink::ReportJobStarted(const std::string& AExecutionId, const std::string& AJobIdentifier,
                                   const std::string&) {
  if (AExecutionId.empty()) return false;
  bool LAborted = false;
  {
    TMutexLock LLock(FLock);
    RefreshAborted(AExecutionId);
    LAborted = ContainsId(FAborted, AExecutionId);
  }
  if (LAborted) OrvaneLogger()->Message("Server link: run %s is aborted by the server", {AExecutionId});
  SendReport(AExecutionId, AJobIdentifier, LAborted ? "aborted" : "started", nullptr);
  return LAborted;
}

void TServerLink::ReportJobFinished(const std::string& AExecutionId, const std::string& AJobIdentifier,
                                    TJobResult AResult, const std::string&) {
  if (AExecutionId.empty()) return;
  SendReport(AExecutionId, AJobIdentifier, "finished", JobResultText(AResult));
}

void TServerLink::SendReport(const std::string& AExecutionId, const std::string& AJobIdentifier,
                             const std::string& AState, const char* AResult) {
  TXmlWriter LWriter(true);
  LWriter.BeginElement("TJobExecReport");
  LWriter.Element("ClientId", FOptions.ClientId);
  LWriter.Element("ExecutionId", AExecutionId);
  LWriter.Element("JobIdentifier", AJobIdentifier);
  LWriter.Element("State", AState);
  if (AResult) LWriter.Element("Result", AResult);
  LWriter.Element("Time", UtcTimeText());
  LWriter.EndElement();
  const std::string LDocument = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" + std::string(LWriter.Written()) + "\n";
  // An aborted start is the start's report all the same: one resource per event, a resend replaces it.
  const std::string LEvent = AState == "finished" ? "finished" : "started";
  FOutbox->Add(TOutbox::TKind::Report, TServerLayout::ReportPath(AExecutionId, LEvent), LDocument,
               "application/xml");
}

}  // namespace Orvane
