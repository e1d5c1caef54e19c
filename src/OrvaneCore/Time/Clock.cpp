#include "OrvaneCore/Time/Clock.h"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <list>
#include <mutex>
#include <sstream>
#include <thread>
#include <unordered_set>

#include "OrvaneCore/Base/Exceptions.h"
#include "OrvaneCore/Platform/ThreadExit.h"

namespace Orvane {

using std::chrono::duration_cast;
using std::chrono::nanoseconds;
using std::chrono::steady_clock;
using std::chrono::system_clock;

// A thread the clock knows. Busy: running (started, or woken and not yet waiting again).
// Both fields are guarded by TState::Mutex.
struct TClock::TThreadRecord {
  explicit TThreadRecord(std::string AName) : Name(std::move(AName)) {}
  ~TThreadRecord();
  std::string Name;
  bool Busy = true;
};

namespace {

// One thread inside WaitOnce. Lives on the waiter's stack; listed in TState::Waiters while it sleeps.
struct TWaiter {
  const TClockCondition* Condition;
  TMonoTime Deadline;
  TClock::TThreadRecord* Thread;
  std::condition_variable Wake;
  bool Woken = false;
};

// Binds a thread to its record for the thread's lifetime; the record goes when the thread ends.
struct TThreadBinding {
  std::shared_ptr<TClock::TThreadRecord> Record;
};

// The calling thread's record; nullptr while it has none.
TClock::TThreadRecord* BoundRecord() {
  const TThreadBinding* LBinding = TPerThread<TThreadBinding>::Find();
  return LBinding ? LBinding->Record.get() : nullptr;
}

TMonoTime RealSteadyNow() {
  return duration_cast<nanoseconds>(steady_clock::now().time_since_epoch());
}

double RealUnixNow() {
  return std::chrono::duration<double>(system_clock::now().time_since_epoch()).count();
}

std::string DefaultThreadName() {
  std::ostringstream LName;
  LName << "thread " << std::this_thread::get_id();
  return LName.str();
}

}  // namespace

struct TClock::TState {
  // The innermost lock of the process: nothing else is locked while it is held.
  std::mutex Mutex;
  TMode Mode = TMode::Real;    // guarded by Mutex, as is everything below
  double Factor = 1.0;         // Scaled
  TMonoTime RealBase{};        // Scaled: real steady time when the mode was set
  TMonoTime VirtualBase{};     // Scaled and Manual: monotonic time when the mode was set
  TMonoTime ManualNow{};       // Manual: the current monotonic time
  double WallBaseUnix = 0;     // Scaled and Manual: UTC wall time when the mode was set
  double WallStepSeconds = 0;  // Scaled and Manual: StepWallClock's sum
  int64_t BusyBoundMs = 30000;
  std::list<TWaiter*> Waiters;
  std::unordered_set<TThreadRecord*> Threads;
  std::condition_variable StateChanged;  // a thread fell asleep or ended

  TMonoTime MonotonicLocked() const {
    switch (Mode) {
      case TMode::Real:
        return RealSteadyNow();
      case TMode::Scaled:
        return VirtualBase + nanoseconds(static_cast<int64_t>((RealSteadyNow() - RealBase).count() * Factor));
      case TMode::Manual:
        return ManualNow;
    }
    return RealSteadyNow();
  }

  double UnixNowLocked() const {
    switch (Mode) {
      case TMode::Real:
        return RealUnixNow();
      case TMode::Scaled:
      case TMode::Manual:
        return WallBaseUnix + WallStepSeconds +
               std::chrono::duration<double>(MonotonicLocked() - VirtualBase).count();
    }
    return RealUnixNow();
  }

  // The real steady time at which the clock reaches ADeadline (Real and Scaled modes).
  steady_clock::time_point RealDeadlineLocked(TMonoTime ADeadline) const {
    const TMonoTime LNow = MonotonicLocked();
    const double LRemaining = ADeadline <= LNow ? 0.0 : static_cast<double>((ADeadline - LNow).count());
    // A day of real time bounds one sleep; the waiter then looks again.
    const double LReal = std::min(LRemaining / (Mode == TMode::Scaled ? Factor : 1.0), 86400e9);
    return steady_clock::now() + nanoseconds(static_cast<int64_t>(LReal));
  }

  void WakeLocked(TWaiter& AWaiter) {
    AWaiter.Woken = true;
    if (AWaiter.Thread) AWaiter.Thread->Busy = true;
    AWaiter.Wake.notify_one();
  }

  TThreadRecord* CurrentRecordLocked() {
    TThreadBinding& LBinding = TPerThread<TThreadBinding>::Get();
    if (!LBinding.Record) {
      LBinding.Record = std::make_shared<TThreadRecord>(DefaultThreadName());
      Threads.insert(LBinding.Record.get());
    }
    return LBinding.Record.get();
  }

  // Threads other than ACaller that are busy.
  std::vector<std::string> BusyNamesLocked(const TThreadRecord* ACaller) const {
    std::vector<std::string> LNames;
    for (const TThreadRecord* LRecord : Threads)
      if (LRecord != ACaller && LRecord->Busy) LNames.push_back(LRecord->Name);
    return LNames;
  }

  int SleeperCountLocked(const TThreadRecord* ACaller) const {
    int LCount = 0;
    for (const TThreadRecord* LRecord : Threads)
      if (LRecord != ACaller && !LRecord->Busy) ++LCount;
    return LCount;
  }

  // Waits until no thread but the caller is busy; throws when that takes longer than the bound.
  void WaitIdleLocked(std::unique_lock<std::mutex>& ALock, const TThreadRecord* ACaller) {
    const auto LLimit = steady_clock::now() + std::chrono::milliseconds(BusyBoundMs);
    if (!StateChanged.wait_until(ALock, LLimit, [&] { return BusyNamesLocked(ACaller).empty(); }))
      throw EClockTimeout("Manual clock: threads still busy after " + std::to_string(BusyBoundMs) +
                          " ms of real time: " + JoinNames(BusyNamesLocked(ACaller)));
  }

  static std::string JoinNames(const std::vector<std::string>& ANames) {
    std::string LText;
    for (const std::string& LName : ANames) LText += (LText.empty() ? "" : ", ") + LName;
    return LText.empty() ? "(none)" : LText;
  }
};

namespace {
TClock::TState* GState = nullptr;
}

TClock::TThreadRecord::~TThreadRecord() {
  if (!GState) return;
  std::lock_guard LLock(GState->Mutex);
  GState->Threads.erase(this);
  GState->StateChanged.notify_all();
}

TClock::TClock() : FState(std::make_unique<TState>()) {
  GState = FState.get();
}

TClock::~TClock() = default;

TClock& TClock::Instance() {
  // Never destroyed: threads may still look at the clock while the process exits.
  static TClock* LInstance = new TClock();
  return *LInstance;
}

TDateTime TClock::Now() {
  return UtcToLocal(UtcNow());
}

TDateTime TClock::UtcNow() {
  std::lock_guard LLock(FState->Mutex);
  return UnixToUtcDateTime(FState->UnixNowLocked());
}

TMonoTime TClock::Monotonic() {
  std::lock_guard LLock(FState->Mutex);
  return FState->MonotonicLocked();
}

TMonoTime TClock::DeadlineIn(double ASeconds) {
  const TMonoTime LNow = Monotonic();
  if (!(ASeconds > 0)) return LNow;
  const double LNanos = ASeconds * 1e9;
  if (LNanos >= static_cast<double>((CNoDeadline - LNow).count())) return CNoDeadline;
  return LNow + nanoseconds(static_cast<int64_t>(LNanos));
}

TMonoTime TClock::DeadlineInMs(int64_t AMilliseconds) {
  return DeadlineIn(AMilliseconds / 1000.0);
}

void TClock::SleepMs(int64_t AMilliseconds) {
  TClockCondition LNobodyNotifies;
  const TMonoTime LDeadline = DeadlineInMs(AMilliseconds);
  while (WaitOnce(LNobodyNotifies, TWaitLock::None(), LDeadline)) {
  }
}

bool TClock::WaitOnce(TClockCondition& ACondition, TWaitLock ALock, TMonoTime ADeadline) {
  std::unique_lock LLock(FState->Mutex);
  if (FState->MonotonicLocked() >= ADeadline) return false;

  TWaiter LWaiter{&ACondition, ADeadline, FState->CurrentRecordLocked(), {}, false};
  FState->Waiters.push_back(&LWaiter);
  LWaiter.Thread->Busy = false;
  FState->StateChanged.notify_all();
  // Registered before the caller's lock goes: a notifier needs that lock to change what we wait
  // for, and then this mutex to notify, so it cannot slip in between.
  if (ALock.Unlock) ALock.Unlock(ALock.Object);

  while (!LWaiter.Woken) {
    if (FState->Mode == TMode::Manual) {
      if (FState->ManualNow >= ADeadline) break;
      LWaiter.Wake.wait(LLock);
    } else {
      if (FState->MonotonicLocked() >= ADeadline) break;
      if (ADeadline == CNoDeadline)
        LWaiter.Wake.wait(LLock);
      else
        LWaiter.Wake.wait_until(LLock, FState->RealDeadlineLocked(ADeadline));
    }
  }
  FState->Waiters.remove(&LWaiter);
  LWaiter.Thread->Busy = true;
  const bool LBeforeDeadline = FState->MonotonicLocked() < ADeadline;
  LLock.unlock();
  if (ALock.Lock) ALock.Lock(ALock.Object);
  return LBeforeDeadline;
}

void TClock::NotifyOne(TClockCondition& ACondition) {
  std::lock_guard LLock(FState->Mutex);
  for (TWaiter* LWaiter : FState->Waiters)
    if (LWaiter->Condition == &ACondition && !LWaiter->Woken) {
      FState->WakeLocked(*LWaiter);
      return;
    }
}

void TClock::NotifyAll(TClockCondition& ACondition) {
  std::lock_guard LLock(FState->Mutex);
  for (TWaiter* LWaiter : FState->Waiters)
    if (LWaiter->Condition == &ACondition) FState->WakeLocked(*LWaiter);
}

void TClock::SetReal() {
  std::lock_guard LLock(FState->Mutex);
  FState->Mode = TMode::Real;
  FState->Factor = 1.0;
  FState->WallStepSeconds = 0;
  // Sleepers look at their deadlines again, now against real time.
  for (TWaiter* LWaiter : FState->Waiters) FState->WakeLocked(*LWaiter);
}

void TClock::SetScaled(double AFactor) {
  if (!(AFactor > 0)) throw EArgumentException("Time scale must be positive");
  std::lock_guard LLock(FState->Mutex);
  const TMonoTime LNow = FState->MonotonicLocked();
  FState->WallBaseUnix = RealUnixNow();
  FState->WallStepSeconds = 0;
  FState->VirtualBase = LNow;
  FState->RealBase = RealSteadyNow();
  FState->Factor = AFactor;
  FState->Mode = TMode::Scaled;
  for (TWaiter* LWaiter : FState->Waiters) FState->WakeLocked(*LWaiter);
}

void TClock::SetManual(TDateTime AStartLocal) {
  std::lock_guard LLock(FState->Mutex);
  const TMonoTime LNow = FState->MonotonicLocked();
  FState->WallBaseUnix = UtcDateTimeToUnix(LocalToUtc(AStartLocal));
  FState->WallStepSeconds = 0;
  FState->VirtualBase = LNow;
  FState->ManualNow = LNow;
  FState->Mode = TMode::Manual;
  for (TWaiter* LWaiter : FState->Waiters) FState->WakeLocked(*LWaiter);
}

void TClock::Advance(TMonoTime ADuration) {
  std::unique_lock LLock(FState->Mutex);
  if (FState->Mode != TMode::Manual) throw EInvalidOperation("Advance needs the manual clock");
  const TThreadRecord* LCaller = BoundRecord();
  const TMonoTime LTarget = FState->ManualNow + std::max(ADuration, TMonoTime::zero());
  FState->WaitIdleLocked(LLock, LCaller);
  for (;;) {
    TMonoTime LNext = LTarget;
    for (const TWaiter* LWaiter : FState->Waiters)
      if (!LWaiter->Woken && LWaiter->Deadline < LNext) LNext = LWaiter->Deadline;
    FState->ManualNow = std::max(FState->ManualNow, LNext);
    bool LWokeSome = false;
    for (TWaiter* LWaiter : FState->Waiters)
      if (!LWaiter->Woken && LWaiter->Deadline <= FState->ManualNow) {
        FState->WakeLocked(*LWaiter);
        LWokeSome = true;
      }
    if (LWokeSome) FState->WaitIdleLocked(LLock, LCaller);
    if (FState->ManualNow >= LTarget) {
      // Threads woken at the target may have gone to sleep with deadlines already due.
      bool LDue = false;
      for (const TWaiter* LWaiter : FState->Waiters)
        LDue = LDue || (!LWaiter->Woken && LWaiter->Deadline <= LTarget);
      if (!LDue) break;
    }
  }
}

void TClock::AdvanceSeconds(double ASeconds) {
  Advance(nanoseconds(static_cast<int64_t>(std::llround(ASeconds * 1e9))));
}

void TClock::AdvanceMs(int64_t AMilliseconds) {
  Advance(std::chrono::milliseconds(AMilliseconds));
}

void TClock::StepWallClock(double ASeconds) {
  std::lock_guard LLock(FState->Mutex);
  if (FState->Mode == TMode::Real) throw EInvalidOperation("The real wall clock cannot be stepped");
  FState->WallStepSeconds += ASeconds;
}

void TClock::WaitForSleepers(int ACount, int64_t AMaxRealMs) {
  std::unique_lock LLock(FState->Mutex);
  const TThreadRecord* LCaller = BoundRecord();
  const auto LLimit = steady_clock::now() + std::chrono::milliseconds(AMaxRealMs);
  const bool LReached = FState->StateChanged.wait_until(LLock, LLimit, [&] {
    return FState->SleeperCountLocked(LCaller) >= ACount && FState->BusyNamesLocked(LCaller).empty();
  });
  if (!LReached)
    throw EClockTimeout(
        "Waited " + std::to_string(AMaxRealMs) + " ms of real time for " + std::to_string(ACount) +
        " sleeping threads; sleeping: " + std::to_string(FState->SleeperCountLocked(LCaller)) +
        ", busy: " + TState::JoinNames(FState->BusyNamesLocked(LCaller)));
}

std::vector<std::string> TClock::SleeperNames() {
  std::lock_guard LLock(FState->Mutex);
  std::vector<std::string> LNames;
  for (const TWaiter* LWaiter : FState->Waiters)
    if (!LWaiter->Woken && LWaiter->Thread) LNames.push_back(LWaiter->Thread->Name);
  return LNames;
}

std::shared_ptr<TClock::TThreadRecord> TClock::PrepareThread(std::string AName) {
  auto LRecord = std::make_shared<TThreadRecord>(std::move(AName));
  std::lock_guard LLock(FState->Mutex);
  FState->Threads.insert(LRecord.get());
  return LRecord;
}

void TClock::BindCurrentThread(const std::shared_ptr<TThreadRecord>& ARecord) {
  std::shared_ptr<TThreadRecord> LOld;
  {
    std::lock_guard LLock(FState->Mutex);
    TThreadBinding& LBinding = TPerThread<TThreadBinding>::Get();
    LOld = std::move(LBinding.Record);
    LBinding.Record = ARecord;
  }
  // LOld, if any, goes here, outside the clock's mutex (its destructor takes it).
}

void TClock::NameCurrentThread(std::string AName) {
  std::lock_guard LLock(FState->Mutex);
  FState->CurrentRecordLocked()->Name = std::move(AName);
}

TMonoTime TClock::RealMonotonic() {
  return RealSteadyNow();
}

}  // namespace Orvane
