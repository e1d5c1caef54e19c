#pragma once

#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <unordered_map>
#include <utility>

#include "OrvaneCore/Base/Enumerable.h"
#include "OrvaneCore/Container/ContainerTypes.h"
#include "OrvaneCore/Platform/Mutex.h"
#include "OrvaneCore/Time/Clock.h"

namespace Orvane {

// A value built at most once, by the first thread that asks; the others wait on the clock until it
// is there. Serves the container's singletons and Lazy<I>.
//
// Threading contract:
// - The builder runs with no lock held, so it may resolve anything, including other once-values.
// - A thread that asks for a value it is building itself (a cycle of dependencies) gets an
//   EContainerError instead of a deadlock; so does a thread whose wait would close a cycle across
//   threads (it waits for a value whose builder waits, directly or through others, for a value
//   this thread is building).
// - When the builder throws, the value stays unbuilt and the next thread that asks builds it.
//
// All once-states share one small lock: the wait-for relation between threads that cycle
// detection walks spans all of them. The lock is never held while a builder runs.
class TOnceState {
public:
  TOnceState() = default;
  TOnceState(const TOnceState&) = delete;
  TOnceState& operator=(const TOnceState&) = delete;

  // The value, built by ABuild on the first call. ADescribe names the value in error messages and
  // runs only for them. ACreated, when given, tells whether this call built the value.
  template <class TBuild>
  std::shared_ptr<void> Get(TBuild&& ABuild, const std::function<std::string()>& ADescribe,
                            bool* ACreated = nullptr) {
    std::shared_ptr<void> LValue;
    if (Acquire(LValue, ADescribe)) return LValue;
    try {
      LValue = ABuild();
    } catch (...) {
      Abandon();
      throw;
    }
    Complete(LValue);
    if (ACreated) *ACreated = true;
    return LValue;
  }

  bool IsCreated() const;

  // Takes the built value out, so that the caller decides where it is released; the state is
  // unbuilt afterwards. A value still being built is left to its builder.
  std::shared_ptr<void> Take();

private:
  enum class TPhase : uint8_t { Empty, Building, Built };

  // True with AValue set when the value exists (possibly after waiting for its builder); false
  // when the caller has become the builder.
  bool Acquire(std::shared_ptr<void>& AValue, const std::function<std::string()>& ADescribe);
  void Complete(std::shared_ptr<void> AValue);
  void Abandon();
  // True when the builder of this state waits, directly or through other builders, for ASelf.
  bool BuilderWaitsFor(std::thread::id ASelf) const REQUIRES(FLock);
  // The state each thread waits for, while it waits.
  static std::unordered_map<std::thread::id, const TOnceState*>& Waiting() REQUIRES(FLock);

  static TMutex FLock;
  static TClockCondition FBuilt;

  TPhase FPhase GUARDED_BY(FLock) = TPhase::Empty;
  std::thread::id FBuilder GUARDED_BY(FLock);
  std::shared_ptr<void> FValue GUARDED_BY(FLock);
};

// How Lazy<T> keeps its value: Lazy<I> holds a std::shared_ptr<I>, Lazy<IEnumerable<X>> a sequence.
template <class T>
struct TLazyTraits {
  static constexpr bool IsSequence = false;
  using TValue = std::shared_ptr<T>;
  static std::shared_ptr<void> Store(TValue AValue) { return AValue; }
  static TValue Load(const std::shared_ptr<void>& AStored) { return std::static_pointer_cast<T>(AStored); }
};

template <class T>
struct TLazyTraits<IEnumerable<T>> {
  static constexpr bool IsSequence = true;
  using TValue = IEnumerable<T>;
  using TItem = T;
  static std::shared_ptr<void> Store(TValue AValue) { return std::make_shared<TValue>(std::move(AValue)); }
  static TValue Load(const std::shared_ptr<void>& AStored) {
    return *std::static_pointer_cast<TValue>(AStored);
  }
};

// A value resolved on first use, once, thread-safely: Lazy<IJobQueue<>> or
// Lazy<IEnumerable<std::shared_ptr<IAgentTask>>>. Copies share the value. Failures surface on
// first use (Value() raises, and raises again on the next call, which tries again). A Lazy made by
// a container must not outlive it; the global container lives for the whole process.
template <class T>
class Lazy {
public:
  using TValue = typename TLazyTraits<T>::TValue;

  Lazy() = default;
  Lazy(std::function<TValue()> AFactory, std::function<std::string()> ADescribe)
      : FState(std::make_shared<TState>(std::move(AFactory), std::move(ADescribe))) {}

  TValue Value() const {
    if (!FState) throw EContainerError("An empty Lazy was used: it was never given a source");
    const TState& LState = *FState;
    return TLazyTraits<T>::Load(
        FState->Once.Get([&LState] { return TLazyTraits<T>::Store(LState.Factory()); }, LState.Describe));
  }

  bool IsValueCreated() const { return FState && FState->Once.IsCreated(); }

  // Lazy<I> only: the value's members. The Lazy keeps the value alive.
  auto operator->() const requires(!TLazyTraits<T>::IsSequence) { return Value().get(); }

private:
  struct TState {
    TState(std::function<TValue()> AFactory, std::function<std::string()> ADescribe)
        : Factory(std::move(AFactory)), Describe(std::move(ADescribe)) {}
    const std::function<TValue()> Factory;
    const std::function<std::string()> Describe;
    mutable TOnceState Once;
  };
  std::shared_ptr<TState> FState;
};

}  // namespace Orvane
