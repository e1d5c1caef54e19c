#include "OrvaneCore/Container/Lazy.h"

namespace Orvane {

// Both are constant-initialised, so they are usable from any library's static initialiser.
TMutex TOnceState::FLock;
TClockCondition TOnceState::FBuilt;

std::unordered_map<std::thread::id, const TOnceState*>& TOnceState::Waiting() {
  static std::unordered_map<std::thread::id, const TOnceState*> LWaiting;
  return LWaiting;
}

bool TOnceState::IsCreated() const {
  TMutexLock LLock(FLock);
  return FPhase == TPhase::Built;
}

std::shared_ptr<void> TOnceState::Take() {
  TMutexLock LLock(FLock);
  if (FPhase != TPhase::Built) return nullptr;
  FPhase = TPhase::Empty;
  return std::move(FValue);
}

bool TOnceState::BuilderWaitsFor(std::thread::id ASelf) const {
  const TOnceState* LState = this;
  // Every step moves to another waiting thread; more steps than there are waiters cannot lead
  // back to ASelf.
  for (std::size_t LSteps = 0; LSteps <= Waiting().size(); ++LSteps) {
    if (LState->FPhase != TPhase::Building) return false;
    if (LState->FBuilder == ASelf) return true;
    const auto LFound = Waiting().find(LState->FBuilder);
    if (LFound == Waiting().end()) return false;
    LState = LFound->second;
  }
  return false;
}

bool TOnceState::Acquire(std::shared_ptr<void>& AValue, const std::function<std::string()>& ADescribe) {
  const std::thread::id LSelf = std::this_thread::get_id();
  bool LSameThread = false;
  {
    TMutexLock LLock(FLock);
    while (FPhase == TPhase::Building) {
      if (FBuilder == LSelf) {
        LSameThread = true;
        break;
      }
      if (BuilderWaitsFor(LSelf)) break;
      Waiting()[LSelf] = this;
      Clock().Wait(FBuilt, LLock, CNoDeadline, [this] {
        FLock.AssertHeld();
        return FPhase != TPhase::Building;
      });
      Waiting().erase(LSelf);
    }
    if (FPhase == TPhase::Built) {
      AValue = FValue;
      return true;
    }
    if (FPhase == TPhase::Empty) {
      FPhase = TPhase::Building;
      FBuilder = LSelf;
      return false;
    }
  }
  // The message is made outside the lock: describing may resolve readable names.
  if (LSameThread)
    throw EContainerError(ADescribe() +
                          " is needed again while this thread builds it: its dependencies lead back to it "
                          "(a cycle; break it with a Lazy parameter)");
  throw EContainerError(ADescribe() +
                        " is being built by another thread that waits for a value this thread builds "
                        "(a cycle across threads; break it with a Lazy parameter)");
}

void TOnceState::Complete(std::shared_ptr<void> AValue) {
  {
    TMutexLock LLock(FLock);
    FValue = std::move(AValue);
    FPhase = TPhase::Built;
    FBuilder = {};
  }
  FBuilt.NotifyAll();
}

void TOnceState::Abandon() {
  {
    TMutexLock LLock(FLock);
    FPhase = TPhase::Empty;
    FBuilder = {};
  }
  FBuilt.NotifyAll();
}

}  // namespace Orvane
