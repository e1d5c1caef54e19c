#include "Server/ServerLink.h"

#include <pthread.h>
#include <sys/stat.h>

#include <cstdio>
#include <map>
#include <stdexcept>
#include <utility>

#include "JobListAnswer.h"
#include "OrvaneCore/Base/Strings.h"
#include "OrvaneCore/Logging/OrvaneLogger.h"
#include "OrvaneCore/Platform/FileReader.h"
#include "OrvaneCore/Platform/SafeFiles.h"
#include "OrvaneCore/Time/DateTime.h"
#include "OrvaneCore/Xml/XmlSerializer.h"
#include "OrvaneCore/Xml/XmlWriter.h"
#include "Server/ClientCertificate.h"
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

// What a static server sends for our documents: XML types or plain text for job lists (a server
// without a type for .xml says text/plain), plain text for the id lists, or no type at all. Never
// HTML: that is the login or error page of something in between, answered 200.
bool IsExpectedType(const std::string& AContentType, TServerLink::TDocumentType AType) {
  const std::string LType = UpperCase(Trim(std::string_view(AContentType).substr(0, AContentType.find(';'))));
  if (LType.empty() || LType == "APPLICATION/OCTET-STREAM" || LType == "TEXT/PLAIN") return true;
  return AType == TServerLink::TDocumentType::Xml &&
         (LType == "TEXT/XML" || LType == "APPLICATION/XML" || LType.ends_with("+XML"));
}

std::string FailureText(const THttpResult& AResult) {
  return AResult.Kind == THttpResult::TKind::Response ? "answered " + std::to_string(AResult.Status) : AResult.Error;
}

}  // namespace

std::string CheckServerLinkOptions(const TServerLinkOptions& AOptions) {
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
  // The server knows the client by its certificate: the folder a certificate may write is its CN's.
  if (LHttp.ClientCert.empty()) return AOptions.ClientId;
  return ClientIdOfCertificate(ReadClientCertificate(LHttp.ClientCert), AOptions.ClientId);
}

TServerLink::TServerLink(TServerLinkOptions AOptions, std::shared_ptr<THttpClient> AHttp,
                         std::shared_ptr<TOutbox> AOutbox)
    : FOptions(std::move(AOptions)),
      FLayout(FOptions.ServerUrl, FOptions.ClientId),
      FHttp(std::move(AHttp)),
      FOutbox(std::move(AOutbox)),
      FBackOff(FOptions.FirstRetrySeconds, FOptions.MaxRetrySeconds, FOptions.Random) {
  {
    TMutexLock LLock(FLock);
    LoadCache();
  }
  std::shared_ptr<TClock::TThreadRecord> LRecord = Clock().PrepareThread("TServerLink");
  FFetcher = std::thread([this, LRecord] {
    Clock().BindCurrentThread(LRecord);
    pthread_setname_np(pthread_self(), "tessra-fetch");
    RunFetcher();
  });
}

TServerLink::~TServerLink() {
  {
    TMutexLock LLock(FLock);
    FStopping = true;
  }
  FFetchChanged.NotifyAll();
  if (FFetcher.joinable()) FFetcher.join();
}

void TServerLink::SetOnLateChange(std::function<void()> ACallback) {
  TMutexLock LLock(FLock);
  FOnLateChange = std::move(ACallback);
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
  if (!SplitHeaderedText(LText, LHeaders, LDocument) ||
      !ParseJobList(std::string(LDocument), "the kept job list", FJobs)) {
    OrvaneLogger()->Error("Server link: the kept job list %s/%s is not one; it is not used",
                          {FOptions.DataDir, CCacheFile});
    return;
  }
  FHaveJobs = true;
  FJobsFrom = LHeaders["From"];
  FJobsETag = LHeaders["ETag"];
  OrvaneLogger()->Message("Server link: %d jobs of the last job list kept (from %s)",
                          {static_cast<int64_t>(FJobs.size()), FJobsFrom});
}

void TServerLink::SaveCache(const std::string& AFrom, const std::string& AETag, const std::string& ADocument) {
  // The document and its ETag in one file: a crash never pairs an ETag with another document.
  const std::string LText = JoinHeaderedText({{"From", AFrom}, {"ETag", AETag}}, ADocument);
  if (const TFileResult LSaved = ReplaceFile(FOptions.DataDir, CCacheFile, LText); !LSaved.Done())
    FLimiter.Error("Server link: job list not kept",
                   "Server link: the job list cannot be kept for a restart while the server is down: %s",
                   {LSaved.Error});
}

bool TServerLink::ParseJobList(const std::string& ADocument, const std::string& AFrom, TJobList& AJobs) {
  {
    TMutexLock LLock(FStatusLock);
    ++FStatus.Parses;
  }
  try {
    TXmlSerializer LSerializer;
    LSerializer.LoadFromXml(ADocument);
    AJobs = ReadJobList(LSerializer);
  } catch (const std::exception& E) {
    FLimiter.Error("Server link: job list unreadable", "Server link: %s is not a job list; the last good one stays: %s",
                   {AFrom, std::string(E.what())});
    TMutexLock LLock(FStatusLock);
    FStatus.LastFailure = Now();
    FStatus.LastFailureText = AFrom + ": not a job list: " + E.what();
    return false;
  }
  return true;
}

TServerLink::TFetch TServerLink::Fetch(const std::string& AUrl, const std::string& AETag, const std::string& AWhat,
                                       TDocumentType AType, THttpResult& AResult) {
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
  // A login page or error page of something in between, answered 200, is not the server's document.
  if (LFetch == TFetch::Fresh && !IsExpectedType(AResult.ContentType, AType)) {
    LFetch = TFetch::Failed;
    AResult.Kind = THttpResult::TKind::Refused;
    AResult.Error = "answered " + std::to_string(AResult.Status) + " with content type \"" + AResult.ContentType +
                    "\", not " + (AType == TDocumentType::Xml ? "XML" : "text");
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

bool TServerLink::FetchJobList(TRound& ARound) {
  // The client's own list, else the fleet's; the ETag is sent only to where the list came from.
  THttpResult LResult;
  std::string LUrl = FLayout.ClientJobList();
  TFetch LFetch = Fetch(LUrl, ARound.JobsFrom == LUrl ? ARound.JobsETag : "", "the client's job list", TDocumentType::Xml,
                       LResult);
  if (LFetch == TFetch::Missing) {
    LUrl = FLayout.FleetJobList();
    LFetch = Fetch(LUrl, ARound.JobsFrom == LUrl ? ARound.JobsETag : "", "the fleet's job list", TDocumentType::Xml,
                   LResult);
    if (LFetch == TFetch::Missing) {
      FLimiter.Error("Server link: no job list", "Server link: the server has neither %s nor %s",
                     {FLayout.ClientJobList(), LUrl});
      return false;
    }
  }
  if (LFetch == TFetch::Failed) return false;
  if (LFetch == TFetch::Unchanged) return true;
  if (!ParseJobList(LResult.Body, LUrl, ARound.Jobs)) return false;
  ARound.NewJobs = true;
  ARound.JobsFrom = LUrl;
  ARound.JobsETag = LResult.ETag;
  SaveCache(LUrl, LResult.ETag, LResult.Body);
  OrvaneLogger()->Message("Server link: %d jobs in the job list from %s",
                          {static_cast<int64_t>(ARound.Jobs.size()), LUrl});
  return true;
}

bool TServerLink::FetchIdList(const std::string& AUrl, const std::string& AWhat, std::vector<std::string>& AIds,
                              std::string& AETag, bool& ANew) {
  THttpResult LResult;
  switch (Fetch(AUrl, AETag, AWhat, TDocumentType::Text, LResult)) {
    case TFetch::Fresh:
      AIds = ParseIdLines(LResult.Body);
      AETag = LResult.ETag;
      ANew = true;
      return true;
    case TFetch::Missing:
      AIds.clear();
      AETag.clear();
      ANew = true;
      return true;
    case TFetch::Unchanged:
      return true;
    case TFetch::Failed:
      break;
  }
  return false;
}

void TServerLink::RunFetcher() {
  TMutexLock LLock(FLock);
  while (true) {
    // Idle waits are bounded like every wait; the loop simply waits again.
    Clock().Wait(FFetchChanged, LLock, Clock().DeadlineIn(3600), [this] {
      FLock.AssertHeld();
      return FStopping || FRoundsWanted > FRoundsDone;
    });
    if (FStopping) return;
    const uint64_t LTicket = FRoundsWanted;
    TRound LRound;
    LRound.JobsFrom = FJobsFrom;
    LRound.JobsETag = FJobsETag;
    LRound.CancelledETag = FCancelledETag;
    LLock.unlock();
    LRound.Current = FetchJobList(LRound) && FetchIdList(FLayout.Cancelled(), "the cancelled list", LRound.Cancelled,
                                                          LRound.CancelledETag, LRound.NewCancelled);
    LLock.lock();
    ApplyRound(LRound);
    FRoundsDone = LTicket;
    std::function<void()> LLateChange;
    if (FEarlyAnswer && FListsVersion != FEarlyAnswerVersion) {
      FEarlyAnswer = false;
      LLateChange = FOnLateChange;
    } else if (FEarlyAnswer && LTicket >= FEarlyAnswerTicket) {
      FEarlyAnswer = false;  // the early answer had all there was
    }
    FFetchChanged.NotifyAll();
    if (LLateChange) {
      LLock.unlock();
      OrvaneLogger()->Message("Server link: a new list arrived after the job list was answered; it is loaded again", {});
      LLateChange();
      LLock.lock();
    }
  }
}

void TServerLink::ApplyRound(TRound& ARound) {
  if (ARound.Current)
    FBackOff.Succeeded();
  else
    FBackOff.Failed();
  if (ARound.NewJobs) {
    FJobs = std::move(ARound.Jobs);
    FHaveJobs = true;
    FJobsFrom = ARound.JobsFrom;
    FJobsETag = ARound.JobsETag;
    ++FListsVersion;
  }
  if (ARound.NewCancelled) {
    FCancelled = std::move(ARound.Cancelled);
    FCancelledETag = ARound.CancelledETag;
    ++FListsVersion;
  }
}

int32_t TServerLink::SendRequest(TRequest& ARequest, TResponse& AResponse) {
  TMutexLock LLock(FLock);
  // Inside the back-off window the server is not asked: the answer is the last good one.
  if (!FBackOff.Waiting()) {
    const uint64_t LTicket = ++FRoundsWanted;
    FFetchChanged.NotifyAll();
    // The caller holds the job list's lock: a slow server must not hold it for long.
    if (!Clock().Wait(FFetchChanged, LLock, Clock().DeadlineIn(CAnswerWaitSeconds), [&] {
          FLock.AssertHeld();
          return FRoundsDone >= LTicket || FStopping;
        })) {
      FEarlyAnswer = true;
      FEarlyAnswerVersion = FListsVersion;
      FEarlyAnswerTicket = LTicket;
      FLimiter.Warning("Server link: slow answer",
                       "Server link: the server is slow to answer; the last job list is used until the new one "
                       "arrives",
                       {});
    }
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
  std::vector<std::string> LAborted;
  std::string LETag;
  {
    TMutexLock LLock(FLock);
    if (FAbortedAsked && Clock().Monotonic() < FAbortedNextRefresh) return;
    if (FBackOff.Waiting()) {
      FLimiter.Warning("Server link: aborted list not checked",
                       "Server link: the server cannot be reached; run %s starts as the aborted list last said",
                       {AExecutionId});
      return;
    }
    // Set before the request: the other starts meanwhile use the list as it is.
    FAbortedAsked = true;
    FAbortedNextRefresh = Clock().DeadlineIn(CAbortedRefreshSeconds);
    LAborted = FAborted;
    LETag = FAbortedETag;
  }
  bool LNew = false;
  const bool LCurrent = FetchIdList(FLayout.Aborted(), "the aborted list", LAborted, LETag, LNew);
  TMutexLock LLock(FLock);
  if (LCurrent) {
    FBackOff.Succeeded();
    if (LNew) {
      FAborted = std::move(LAborted);
      FAbortedETag = LETag;
    }
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
  RefreshAborted(AExecutionId);
  bool LAborted = false;
  {
    TMutexLock LLock(FLock);
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
