#include "OrvaneCore/Threading/OrvaneThread.h"

#include "OrvaneCore/Logging/OrvaneLogger.h"

namespace Orvane {

namespace {

class TAnonymousThread final : public TOrvaneThread {
public:
  explicit TAnonymousThread(std::function<void()> AProc) : FProc(std::move(AProc)) {}
  ~TAnonymousThread() override { TerminateAndWaitFor(); }
  std::string ClassName() const override { return "TAnonymousThread"; }

protected:
  void Execute() override { FProc(); }

private:
  std::function<void()> FProc;
};

constexpr int64_t CJoinWarningMs = 30000;

}  // namespace

TOrvaneThread::TOrvaneThread() = default;

TOrvaneThread::~TOrvaneThread() {
  TerminateAndWaitFor();
}

void TOrvaneThread::TerminateAndWaitFor() {
  if (FThread.get_id() == std::this_thread::get_id()) {
    // Freed by its own thread (free-on-terminate): nothing to wait for.
    FThread.detach();
    return;
  }
  if (!FThread.joinable()) return;
  Terminate();
  while (!WaitFor(CJoinWarningMs))
    OrvaneLogger()->Warning("Still waiting for thread %s to end", {ClassName()});
  // Execute has returned; the thread only unwinds now.
  FThread.join();
}

void TOrvaneThread::Start() {
  std::shared_ptr<TClock::TThreadRecord> LRecord = Clock().PrepareThread(ClassName());
  TMutexLock LLock(FLock);
  if (FStarted) return;
  // Assigned under FLock: the new thread takes FLock once before it runs, so FThread is complete
  // before a free-on-terminate thread compares it with itself. Started only once the thread exists:
  // when it cannot be created, nothing waits for a run that never comes.
  FThread = std::thread([this, LRecord] {
    Clock().BindCurrentThread(LRecord);
    { TMutexLock LStarted(FLock); }
    ThreadProc();
  });
  FStarted = true;
}

bool TOrvaneThread::GetStarted() {
  TMutexLock LLock(FLock);
  return FStarted;
}

bool TOrvaneThread::GetFinished() {
  TMutexLock LLock(FLock);
  return FFinished;
}

bool TOrvaneThread::WaitFor(int64_t ATimeoutMs) {
  const TMonoTime LDeadline = ATimeoutMs < 0 ? CNoDeadline : Clock().DeadlineInMs(ATimeoutMs);
  TMutexLock LLock(FLock);
  return Clock().Wait(FFinishedChanged, LLock, LDeadline, [&] {
    FLock.AssertHeld();
    return !FStarted || FFinished;
  });
}

void TOrvaneThread::SetPriority(TThreadPriority AValue) {
  FPriority.store(AValue);
  ApplyPriority();
}

void TOrvaneThread::ApplyPriority() {
  const int LTid = FNativeId.load();
  if (LTid == 0) return;
  SetNativeThreadPriority(LTid, FPriority.load());
}

void TOrvaneThread::ThreadProc() {
  FNativeId.store(CurrentNativeThreadId());
  if (FPriority.load() != TThreadPriority::tpNormal) ApplyPriority();
  try {
    Execute();
  } catch (...) {
    LogCurrentException(ClassName() + ".Execute");
  }
  if (GetFreeOnTerminate()) {
    delete this;
    return;
  }
  {
    TMutexLock LLock(FLock);
    FFinished = true;
  }
  FFinishedChanged.NotifyAll();
}

std::unique_ptr<TOrvaneThread> TOrvaneThread::CreateAnonymousThread(std::function<void()> AProc) {
  return std::make_unique<TAnonymousThread>(std::move(AProc));
}

}  // namespace Orvane
