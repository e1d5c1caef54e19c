#pragma once

#include <memory>
#include <string>

#include "OrvaneCore/DataTransfer/DataTransfer.h"
#include "OrvaneCore/Interfaces/JobExecStateReporter.Intf.h"
#include "OrvaneCore/Jobs/JobTypes.h"
#include "OrvaneCore/Logging/LogLimiter.h"
#include "OrvaneCore/Platform/Mutex.h"
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
};

// Refuses options the agent must not start with (std::invalid_argument with a text for the user,
// answered with exit 2): not https without AllowInsecureHttp, a certificate without its key or the
// reverse, a key file that others may read, a CA file or certificate that cannot be read.
void CheckServerLinkOptions(const TServerLinkOptions& AOptions);

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
class TServerLink : public IServerRequestSender, public IJobExecStateReporter {
public:
  static constexpr int32_t CAbortedRefreshSeconds = 30;
  static constexpr const char* CCacheFolder = "server-cache";

  TServerLink(TServerLinkOptions AOptions, std::shared_ptr<THttpClient> AHttp, std::shared_ptr<TOutbox> AOutbox);

  int32_t SendRequest(TRequest& ARequest, TResponse& AResponse) override;
  bool ReportJobStarted(const std::string& AExecutionId, const std::string& AJobIdentifier,
                        const std::string& AReserved) override;
  void ReportJobFinished(const std::string& AExecutionId, const std::string& AJobIdentifier, TJobResult AResult,
                         const std::string& AReserved) override;

private:
  TMutex FLock;
  // ... the cached lists, ETags, back-off and limiter, each field GUARDED_BY(FLock)
};

}  // namespace Orvane
