#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "OrvaneCore/Platform/Mutex.h"
#include "OrvaneCore/Threading/OrvaneThread.h"
#include "OrvaneCore/Time/Clock.h"

namespace Orvane {

// Runs queued work items, one after another, on a thread of its own, which the clock knows by the
// processor's name. Destroying it ends the thread after the item that runs; items still queued then
// are dropped (their owner has gone). An item that throws, whatever it throws, is logged and the
// next one runs.
class TTaskProcessor {
public:
  explicit TTaskProcessor(std::string AName);
  ~TTaskProcessor();
  TTaskProcessor(const TTaskProcessor&) = delete;
  TTaskProcessor& operator=(const TTaskProcessor&) = delete;

  void Post(std::function<void()> AItem) EXCLUDES(FLock);
  // Items queued or running.
  int PendingCount() EXCLUDES(FLock);

private:
  void Run();

  const std::string FName;
  TMutex FLock;
  std::deque<std::function<void()>> FItems GUARDED_BY(FLock);
  int FRunning GUARDED_BY(FLock) = 0;
  bool FStopping GUARDED_BY(FLock) = false;
  TClockCondition FChanged;
  std::unique_ptr<TOrvaneThread> FThread;  // last: ends before the fields it uses
};

}  // namespace Orvane
