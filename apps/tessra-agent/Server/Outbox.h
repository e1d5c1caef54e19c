#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <thread>

#include "OrvaneCore/Logging/LogLimiter.h"
#include "OrvaneCore/Platform/AtomicFile.h"
#include "OrvaneCore/Platform/Mutex.h"
#include "OrvaneCore/Time/Clock.h"
#include "Server/HttpClient.h"
#include "Server/RetryBackOff.h"

namespace Orvane {

class TFileReader;

// The outbox's bounds and back-off; tests make them small.
struct TOutboxSettings {
  static constexpr int32_t CMaxItems = 10000;
  static constexpr uint64_t CMaxBytes = 256ull * 1024 * 1024;
  // Undelivered items kept for someone to look at; a site that refuses everything must not fill the disk.
  static constexpr int32_t CMaxFailedItems = 100;
  int32_t MaxItems = CMaxItems;
  uint64_t MaxBytes = CMaxBytes;
  int32_t MaxFailedItems = CMaxFailedItems;
  // The back-off window after the first failure in a row, doubled with each further one up to the
  // cap: a server that is down for long is asked about every 10 minutes.
  double FirstRetrySeconds = 5;
  double MaxRetrySeconds = 600;
  std::function<double()> Random;  // for TRetryBackOff; empty for its own
};

// What the agent sends to the server, kept on disk until the server has it: each item is written to
// DATA/outbox/ atomically before Add returns, sent by the outbox's own thread (PUT to its path below
// the client's folder), and removed on a 2xx only. No answer, a 5xx, 408 or 429 is retried with
// capped exponential back-off and full jitter, also after a restart (the items are still there); any
// other 4xx is final: the item moves to DATA/outbox/failed/ with one error line in the log and the
// items behind it go on; that folder keeps the newest MaxFailedItems, older ones are removed with a
// warning. Items go out oldest first.
//
// Bounded: at most CMaxItems items and CMaxBytes bytes. An item that does not fit pushes out results
// first, oldest first, each with a log line; a report is never pushed out for a result (a result that
// fits only by pushing out reports is refused instead).
//
// An item is one file, DATA/outbox/SEQUENCE.report or .result (the sequence orders them), holding
// the request's header lines (path, content type, content encoding), a blank line, then the body.
//
// Threading: Add from any thread; Start/Stop from the owner's. Nothing is sent under the lock, and an
// item is written to disk before the lock is taken (its sequence is taken first, so an item written
// slowly may go out after one added later).
class TOutbox {
public:
  enum class TKind { Report, Result };
  static constexpr int32_t CMaxItems = TOutboxSettings::CMaxItems;
  static constexpr uint64_t CMaxBytes = TOutboxSettings::CMaxBytes;
  static constexpr const char* CFolder = "outbox";

  TOutbox(std::string ADataDir, std::string AClientFolderUrl, std::shared_ptr<THttpClient> AHttp,
          TOutboxSettings ASettings = {});
  ~TOutbox();
  TOutbox(const TOutbox&) = delete;
  TOutbox& operator=(const TOutbox&) = delete;

  // Whether the item is on disk (a false is logged and says why).
  bool Add(TKind AKind, const std::string& ARemotePath, std::string_view ABody, const std::string& AContentType,
           const std::string& AContentEncoding = "") EXCLUDES(FLock);
  // The same with the body written by AProduceBody straight into the item's file, so that a large
  // body is never in memory whole. What AProduceBody raises refuses the item (logged).
  bool AddStreamed(TKind AKind, const std::string& ARemotePath, const std::string& AContentType,
                   const std::string& AContentEncoding, const TContentProducer& AProduceBody) EXCLUDES(FLock);

  // The sending thread. Stop gives it up to AFlushSeconds to send what is due, then ends it; what is
  // left stays on disk for the next start.
  void Start() EXCLUDES(FLock);
  void Stop(double AFlushSeconds = 5) EXCLUDES(FLock);

  int32_t ItemCount() const EXCLUDES(FLock);
  // Waits up to ADeadline until no item is left; true when none is.
  bool WaitUntilEmpty(TMonoTime ADeadline) EXCLUDES(FLock);

private:
  struct TItem {
    std::string Name;  // the file's name in the outbox folder
    TKind Kind = TKind::Report;
    uint64_t Bytes = 0;
  };

  void LoadItems() REQUIRES(FLock);
  // The sender: the oldest item when it is due, sent without the lock, its outcome applied under it.
  void Run() EXCLUDES(FLock);
  void Forget(uint64_t ASequence) REQUIRES(FLock);
  // Copies the item, open in AItem, into the failed folder and removes it.
  void MoveToFailed(uint64_t ASequence, TFileReader& AItem, const std::string& AWhy) REQUIRES(FLock);
  void PruneFailed() REQUIRES(FLock);

  const std::string FDataDir;
  const std::string FClientFolderUrl;
  const std::shared_ptr<THttpClient> FHttp;
  const TOutboxSettings FSettings;
  TLogLimiter FLimiter;

  mutable TMutex FLock;
  TClockCondition FChanged;
  std::map<uint64_t, TItem> FItems GUARDED_BY(FLock);  // by sequence: oldest first
  uint64_t FBytes GUARDED_BY(FLock) = 0;
  uint64_t FNextSequence GUARDED_BY(FLock) = 1;
  TRetryBackOff FBackOff GUARDED_BY(FLock);
  bool FRunning GUARDED_BY(FLock) = false;
  bool FStopping GUARDED_BY(FLock) = false;
  TMonoTime FFlushDeadline GUARDED_BY(FLock){};
  std::thread FThread;  // the owner's: started and joined by Start and Stop
};

}  // namespace Orvane
