#pragma once

#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "OrvaneCore/DataTransfer/DataTransfer.h"
#include "OrvaneCore/Interfaces/JobExecStateReporter.Intf.h"
#include "OrvaneCore/Jobs/JobTypes.h"
#include "OrvaneCore/Logging/LogLimiter.h"
#include "OrvaneCore/Platform/Mutex.h"
#include "OrvaneCore/Time/DateTime.h"
#include "Server/HttpClient.h"
#include "Server/Outbox.h"
#include "Server/RetryBackOff.h"
#include "Server/ServerLayout.h"

namespace Orvane {

struct TServerLinkOptions {
  std::string ServerUrl;  // --server
  std::string ClientId;
  std::string DataDir;
  THttpClientOptions Http;
  // The back-off of the fetches while the server cannot be reached: a window of up to 5 s after the
  // first failure, doubled with each further one up to 10 minutes.
  double FirstRetrySeconds = 5;
  double MaxRetrySeconds = 600;
  std::function<double()> Random;  // for TRetryBackOff; empty for its own
};

// Refuses options the agent must not start with (std::invalid_argument with a text for the user,
// answered with exit 2): not https without AllowInsecureHttp, a certificate without its key or the
// reverse, a key file that others may read, a CA file or certificate that cannot be read, a
// certificate without a CN or whose CN is not the ClientId given. Returns the client id the agent
// runs with: the certificate's CN when there is a certificate, else AOptions.ClientId ("" for the
// host name).
std::string CheckServerLinkOptions(const TServerLinkOptions& AOptions);

// The management server as a static web server serves it (TServerLayout): the job-list request
// sender and the start/finish reporter of the agent.
//
// Job list: a conditional GET of the client's list (a 404 falls back to the fleet's), so an
// unchanged list costs a 304 and no parse; the last good list and its ETag are kept in
// DATA/server-cache/ so that a restart while the server is down still runs it. When the server
// cannot be reached, SendRequest answers 0 with the last good list (never an empty list, which would
// remove the automatic jobs); while fetches fail, tries wait a capped exponential back-off with full
// jitter, and a try inside that window answers from the cache without touching the network. The
// answer's ExistingManualJobIds is every id of the request except those in the cancelled list.
//
// Reports: each start and finish of a run with an execution id is a small XML document sent through
// the outbox. A start is answered "aborted" when its execution id is in the aborted list as last
// fetched; the list is fetched again (conditional GET) before a manual job starts, at most once per
// CAbortedRefreshSeconds and not inside a back-off window; when the server cannot be reached the job
// starts, and the log says so. One log line per failure kind through the limiter.
//
// A run without an execution id is not the server's: nothing is reported and its start is never
// aborted. When no job list was ever fetched nor kept, SendRequest answers CNoJobList and the job
// list keeps what it holds.
//
// Threading: any thread. The job list and the cancelled list are fetched by the link's own thread:
// SendRequest runs under the job list's lock, which `ctl status` also reads under, so it waits for a
// fetch at most CAnswerWaitSeconds and otherwise answers the last good list; when that late fetch
// brings a new list, the link calls its late-change callback (the host asks for a reload), so the
// change is still taken. No request is made under FLock; the outbox is called without it.
class TServerLink : public IServerRequestSender, public IJobExecStateReporter {
public:
  static constexpr int32_t CAbortedRefreshSeconds = 30;
  static constexpr double CAnswerWaitSeconds = 1;
  enum class TDocumentType { Xml, Text };
  static constexpr const char* CCacheFolder = "server-cache";
  // SendRequest's answer while no job list is known.
  static constexpr int32_t CNoJobList = 1;

  TServerLink(TServerLinkOptions AOptions, std::shared_ptr<THttpClient> AHttp, std::shared_ptr<TOutbox> AOutbox);
  // Waits for a fetch in flight (bounded by the client's time-out).
  ~TServerLink();
  TServerLink(const TServerLink&) = delete;
  TServerLink& operator=(const TServerLink&) = delete;

  // Called on the link's thread when a fetch that finished after SendRequest had answered brought a
  // job list or cancelled list that answer did not have.
  void SetOnLateChange(std::function<void()> ACallback) EXCLUDES(FLock);

  int32_t SendRequest(TRequest& ARequest, TResponse& AResponse) override;
  bool ReportJobStarted(const std::string& AExecutionId, const std::string& AJobIdentifier,
                        const std::string& AReserved) override;
  void ReportJobFinished(const std::string& AExecutionId, const std::string& AJobIdentifier, TJobResult AResult,
                         const std::string& AReserved) override;

  // What `ctl status` shows of the link: the server, the fetches (how many were answered 304 and how
  // many job lists were parsed), the last success and the last failure with its reason, the outbox.
  // Never waits for a request in flight.
  std::string StatusText() const EXCLUDES(FStatusLock);

private:
  enum class TFetch { Fresh, Unchanged, Missing, Failed };
  // What a round of fetches starts from and what it brought; filled and applied under FLock, fetched
  // without it.
  struct TRound {
    std::string JobsFrom, JobsETag, CancelledETag;
    bool Current = false;  // both lists are as current as the server's
    bool NewJobs = false;
    TJobList Jobs;
    bool NewCancelled = false;
    std::vector<std::string> Cancelled;
  };
  // A GET of AUrl, conditional when AETag is set; a failure is logged as AWhat's through the limiter.
  // A response of another content type than AType's is a failure.
  TFetch Fetch(const std::string& AUrl, const std::string& AETag, const std::string& AWhat, TDocumentType AType,
               THttpResult& AResult);
  // Each true when what it fetches is as current as the server's.
  bool FetchJobList(TRound& ARound);
  bool FetchIdList(const std::string& AUrl, const std::string& AWhat, std::vector<std::string>& AIds,
                   std::string& AETag, bool& ANew);
  void RunFetcher() EXCLUDES(FLock);
  void ApplyRound(TRound& ARound) REQUIRES(FLock);
  void RefreshAborted(const std::string& AExecutionId) EXCLUDES(FLock);
  // ADocument as a job list; false (logged) when it is not one.
  bool ParseJobList(const std::string& ADocument, const std::string& AFrom, TJobList& AJobs);
  void LoadCache() REQUIRES(FLock);
  void SaveCache(const std::string& AFrom, const std::string& AETag, const std::string& ADocument);
  void SendReport(const std::string& AExecutionId, const std::string& AJobIdentifier, const std::string& AState,
                  const char* AResult);
  void RecordFetch(const std::string& AUrl, const THttpResult& AResult, TFetch AFetch) EXCLUDES(FStatusLock);

  const TServerLinkOptions FOptions;
  const TServerLayout FLayout;
  const std::shared_ptr<THttpClient> FHttp;
  const std::shared_ptr<TOutbox> FOutbox;
  TLogLimiter FLimiter;

  TMutex FLock;
  TClockCondition FFetchChanged;
  TRetryBackOff FBackOff GUARDED_BY(FLock);
  TJobList FJobs GUARDED_BY(FLock);
  bool FHaveJobs GUARDED_BY(FLock) = false;
  std::string FJobsFrom GUARDED_BY(FLock);  // the URL the list came from
  std::string FJobsETag GUARDED_BY(FLock);
  std::vector<std::string> FCancelled GUARDED_BY(FLock);
  std::string FCancelledETag GUARDED_BY(FLock);
  // Counts the changes of FJobs and FCancelled, so that a late fetch knows whether an early answer
  // missed one.
  uint64_t FListsVersion GUARDED_BY(FLock) = 0;
  std::vector<std::string> FAborted GUARDED_BY(FLock);
  std::string FAbortedETag GUARDED_BY(FLock);
  bool FAbortedAsked GUARDED_BY(FLock) = false;
  TMonoTime FAbortedNextRefresh GUARDED_BY(FLock){};
  // Rounds asked for and rounds done, as tickets: an answer waits for a round begun after it asked.
  uint64_t FRoundsWanted GUARDED_BY(FLock) = 0;
  uint64_t FRoundsDone GUARDED_BY(FLock) = 0;
  // An answer given without its round: the lists' version it had, and the ticket it waited for.
  bool FEarlyAnswer GUARDED_BY(FLock) = false;
  uint64_t FEarlyAnswerVersion GUARDED_BY(FLock) = 0;
  uint64_t FEarlyAnswerTicket GUARDED_BY(FLock) = 0;
  std::function<void()> FOnLateChange GUARDED_BY(FLock);
  bool FStopping GUARDED_BY(FLock) = false;
  std::thread FFetcher;

  // A leaf lock of its own, so that a status request never waits behind FLock, which a fetch holds
  // for as long as its request takes.
  struct TLinkStatus {
    int64_t Fetches = 0;
    int64_t Unchanged = 0;  // answered 304
    int64_t Parses = 0;     // job lists parsed
    TDateTime LastSuccess = CNoDateTime;
    TDateTime LastFailure = CNoDateTime;
    std::string LastFailureText;
  };
  mutable TMutex FStatusLock;
  TLinkStatus FStatus GUARDED_BY(FStatusLock);
};

}  // namespace Orvane
