#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "OrvaneCore/Base/OrvaneObject.h"
#include "OrvaneCore/Platform/Mutex.h"
#include "OrvaneCore/Platform/ThreadPriority.h"
#include "OrvaneCore/Time/Clock.h"

namespace Orvane {

// The host's thread base. A thread object is created suspended; Start creates the operating-system
// thread, which runs Execute once. A thread object that was never started has no thread at all:
// destroying it needs no join and no wait.
//
// Destroying a started thread asks it to terminate (Execute polls GetTerminated) and waits until
// Execute has returned. A descendant whose Execute uses its own members must call
// TerminateAndWaitFor() first in its own destructor: by the time the base destructor runs, the
// descendant's part is gone. With free-on-terminate the thread deletes its own object after
// Execute; nobody else may then delete it. A destructor never joins its own thread.
class TOrvaneThread : public TOrvaneObject {
public:
  TOrvaneThread();
  ~TOrvaneThread() override;
  TOrvaneThread(const TOrvaneThread&) = delete;
  TOrvaneThread& operator=(const TOrvaneThread&) = delete;

  std::string ClassName() const override { return "TOrvaneThread"; }

  // Starts the thread; a second call does nothing.
  void Start();
  void Terminate() { FTerminated.store(true); }
  bool GetTerminated() const { return FTerminated.load(); }
  bool GetStarted() EXCLUDES(FLock);
  bool GetFinished() EXCLUDES(FLock);

  // Waits up to ATimeoutMs of clock time (negative: no bound) until Execute has returned; true
  // when it has. A thread that was never started counts as finished.
  bool WaitFor(int64_t ATimeoutMs = -1) EXCLUDES(FLock);

  // Best effort: the scheduler's nice value of the thread (raising it needs privileges).
  void SetPriority(TThreadPriority AValue);

  void SetFreeOnTerminate(bool AValue) { FFreeOnTerminate.store(AValue); }
  bool GetFreeOnTerminate() const { return FFreeOnTerminate.load(); }

  // A thread running AProc. Not free-on-terminate: the caller owns it; to let it free itself,
  // SetFreeOnTerminate(true), Start() and release the pointer.
  static std::unique_ptr<TOrvaneThread> CreateAnonymousThread(std::function<void()> AProc);

protected:
  virtual void Execute() = 0;
  // Asks the thread to terminate and waits for it to end (logging while that takes long); joins
  // it. Does nothing for a thread never started or already joined, or on the thread itself.
  void TerminateAndWaitFor();

private:
  void ThreadProc();
  void ApplyPriority();

  TMutex FLock;
  bool FStarted GUARDED_BY(FLock) = false;
  bool FFinished GUARDED_BY(FLock) = false;
  TClockCondition FFinishedChanged;
  std::atomic<bool> FTerminated{false};
  std::atomic<bool> FFreeOnTerminate{false};
  std::atomic<TThreadPriority> FPriority{TThreadPriority::tpNormal};
  std::atomic<int> FNativeId{0};  // the system's id of the thread; 0 before it runs
  std::thread FThread;            // written by Start before the thread runs; joined by the destructor
};

}  // namespace Orvane
