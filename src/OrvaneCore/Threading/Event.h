#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "OrvaneCore/Logging/OrvaneLogger.h"
#include "OrvaneCore/Platform/Mutex.h"
#include "OrvaneCore/Time/Clock.h"

namespace Orvane {

template <class TSignature>
class TEvent;

// A multicast event. Threading contract:
// - Invoke copies the handler list under FLock and calls the handlers outside it, on the invoking
//   thread, in the order they were added. A handler removed before its turn comes is skipped.
// - Remove returns only after invocations of that handler running on other threads have finished,
//   so the handler's object may go away right after; an invocation on the removing thread itself
//   (a handler that removes itself) is not waited for. A long wait is logged and goes on.
// - Never remove a handler while holding a lock that the handler may take.
template <class... TArgs>
class TEvent<void(TArgs...)> {
public:
  using THandler = std::function<void(TArgs...)>;
  using TToken = uint64_t;

  explicit TEvent(std::string AName = "event") : FName(std::move(AName)) {}
  TEvent(const TEvent&) = delete;
  TEvent& operator=(const TEvent&) = delete;

  TToken Add(THandler AHandler) {
    auto LEntry = std::make_shared<TEntry>();
    LEntry->Handler = std::move(AHandler);
    TMutexLock LLock(FLock);
    LEntry->Token = FNextToken++;
    FEntries.push_back(LEntry);
    return LEntry->Token;
  }

  void Remove(TToken AToken) {
    const std::thread::id LSelf = std::this_thread::get_id();
    TMutexLock LLock(FLock);
    auto LFound = std::find_if(FEntries.begin(), FEntries.end(), [&](const std::shared_ptr<TEntry>& AEntry) {
      return AEntry->Token == AToken;
    });
    if (LFound == FEntries.end()) return;
    std::shared_ptr<TEntry> LEntry = *LFound;
    FEntries.erase(LFound);
    LEntry->Removed = true;
    auto LRunningElsewhere = [&] {
      FLock.AssertHeld();
      return std::any_of(LEntry->Running.begin(), LEntry->Running.end(),
                         [&](std::thread::id AThread) { return AThread != LSelf; });
    };
    while (!Clock().Wait(FInvocationEnded, LLock, Clock().DeadlineIn(CRemoveWarningSeconds),
                         [&] { return !LRunningElsewhere(); })) {
      LLock.unlock();
      OrvaneLogger()->Warning("Event \"%s\": waiting for a running handler to finish before removing it",
                              {FName});
      LLock.lock();
    }
  }

  void SetEnabled(bool AValue) {
    TMutexLock LLock(FLock);
    FEnabled = AValue;
  }

  bool GetEnabled() {
    TMutexLock LLock(FLock);
    return FEnabled;
  }

  size_t Count() {
    TMutexLock LLock(FLock);
    return FEntries.size();
  }

  // Calls every handler; an exception from a handler ends the invocation and reaches the caller.
  void Invoke(TArgs... AArgs) {
    std::vector<std::shared_ptr<TEntry>> LEntries;
    {
      TMutexLock LLock(FLock);
      if (!FEnabled) return;
      LEntries = FEntries;
    }
    const std::thread::id LSelf = std::this_thread::get_id();
    for (const std::shared_ptr<TEntry>& LEntry : LEntries) {
      {
        TMutexLock LLock(FLock);
        if (LEntry->Removed) continue;
        LEntry->Running.push_back(LSelf);
      }
      TRunningGuard LGuard{*this, *LEntry, LSelf};
      LEntry->Handler(AArgs...);
    }
  }

private:
  static constexpr double CRemoveWarningSeconds = 5.0;

  struct TEntry {
    TToken Token = 0;
    THandler Handler;                      // written once, before the entry is listed
    bool Removed = false;                  // guarded by the event's FLock
    std::vector<std::thread::id> Running;  // guarded by the event's FLock: threads inside Handler
  };

  // Takes the invoking thread off the entry's running list, also when the handler throws.
  struct TRunningGuard {
    TEvent& FEvent;
    TEntry& FEntry;
    std::thread::id FThread;
    ~TRunningGuard() {
      {
        TMutexLock LLock(FEvent.FLock);
        auto LFound = std::find(FEntry.Running.begin(), FEntry.Running.end(), FThread);
        if (LFound != FEntry.Running.end()) FEntry.Running.erase(LFound);
      }
      FEvent.FInvocationEnded.NotifyAll();
    }
  };

  const std::string FName;
  TMutex FLock;
  std::vector<std::shared_ptr<TEntry>> FEntries GUARDED_BY(FLock);
  bool FEnabled GUARDED_BY(FLock) = true;
  TToken FNextToken GUARDED_BY(FLock) = 1;
  TClockCondition FInvocationEnded;
};

}  // namespace Orvane
