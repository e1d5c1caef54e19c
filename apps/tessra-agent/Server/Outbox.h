#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "OrvaneCore/Logging/LogLimiter.h"
#include "OrvaneCore/Platform/Mutex.h"
#include "OrvaneCore/Time/Clock.h"
#include "Server/HttpClient.h"
#include "Server/RetryBackOff.h"

namespace Orvane {

// What the agent sends to the server, kept on disk until the server has it: each item is written to
// DATA/outbox/ atomically before Add returns, sent by the outbox's own thread (PUT to its path below
// the client's folder), and removed on a 2xx only. No answer, a 5xx, 408 or 429 is retried with
// capped exponential back-off and full jitter, also after a restart (the items are still there); any
// other 4xx is final: the item moves to DATA/outbox/failed/ with one error line in the log and the
// items behind it go on. Items go out oldest first.
//
// Bounded: at most CMaxItems items and CMaxBytes bytes. An item that does not fit pushes out results
// first, oldest first, each with a log line; a report is never pushed out for a result (a result that
// fits only by pushing out reports is refused instead).
//
// Threading: Add from any thread; Start/Stop from the owner's.
class TOutbox {
public:
  enum class TKind { Report, Result };
  static constexpr int32_t CMaxItems = 10000;
  static constexpr uint64_t CMaxBytes = 256ull * 1024 * 1024;
  static constexpr const char* CFolder = "outbox";

  TOutbox(std::string ADataDir, std::string AClientFolderUrl, std::shared_ptr<THttpClient> AHttp);
  ~TOutbox();

  // Whether the item is on disk (a false is logged and says why).
  bool Add(TKind AKind, const std::string& ARemotePath, std::string_view ABody, const std::string& AContentType,
           const std::string& AContentEncoding = "") EXCLUDES(FLock);

  // The sending thread. Stop gives it up to AFlushSeconds to send what is due, then ends it; what is
  // left stays on disk for the next start.
  void Start() EXCLUDES(FLock);
  void Stop(double AFlushSeconds = 5) EXCLUDES(FLock);

  int32_t ItemCount() const EXCLUDES(FLock);
  // Waits up to ADeadline until no item is left; true when none is.
  bool WaitUntilEmpty(TMonoTime ADeadline) EXCLUDES(FLock);

private:
  mutable TMutex FLock;
  TClockCondition FChanged;
  // ... the sender's state, each field GUARDED_BY(FLock)
};

}  // namespace Orvane
