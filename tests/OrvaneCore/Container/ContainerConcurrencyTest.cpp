#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "OrvaneCore/Container/Container.h"
#include "OrvaneCore/Time/WaitableEvent.h"
#include "Support/ClockScope.h"
#include "Support/RunConcurrently.h"

namespace Orvane {
namespace {

using ::testing::HasSubstr;
using ::testing::ThrowsMessage;

struct IEngine {
  static constexpr const char* IID = "{7D2F4A90-61C3-4B8E-A5D7-2E9C0B3F4A01}";
  static constexpr const char* Name = "IEngine";
  virtual ~IEngine() = default;
};
class TEngine : public IEngine {};

struct IEgg;
struct IChicken {
  static constexpr const char* IID = "{7D2F4A90-61C3-4B8E-A5D7-2E9C0B3F4A02}";
  virtual ~IChicken() = default;
  virtual std::shared_ptr<IEgg> Egg() = 0;
};
struct IEgg {
  static constexpr const char* IID = "{7D2F4A90-61C3-4B8E-A5D7-2E9C0B3F4A03}";
  virtual ~IEgg() = default;
  virtual std::shared_ptr<IChicken> Chicken() = 0;
};
struct TChicken : IChicken {
  explicit TChicken(Lazy<IEgg> AEgg) : FEgg(std::move(AEgg)) {}
  std::shared_ptr<IEgg> Egg() override { return FEgg.Value(); }
  Lazy<IEgg> FEgg;
};
struct TEgg : IEgg {
  explicit TEgg(Lazy<IChicken> AChicken) : FChicken(std::move(AChicken)) {}
  std::shared_ptr<IChicken> Chicken() override { return FChicken.Value(); }
  Lazy<IChicken> FChicken;
};

// Eight threads ask at once, through one Lazy or for a singleton that resolves another while it is
// built. The first builds and blocks on LRelease; the test lets it go only once the seven others
// sleep on the clock waiting for its value. All get one object, built once.
TEST(ContainerConcurrencyTest, LazyOrSingletonAskedFromEightThreadsAtOnceIsBuiltOnce) {
  constexpr int CThreads = 8;
  Testing::TManualClockScope LClock;
  for (const bool LThroughLazy : {true, false}) {
    SCOPED_TRACE(LThroughLazy ? "Lazy" : "singleton");
    TWaitableEvent LRelease(true, false);
    std::atomic<int> LBuilt{0}, LPartBuilt{0};
    TContainer LContainer;
    LContainer.RegisterType<TEngine>([&] { return ++LPartBuilt, std::make_shared<TEngine>(); })
        .Implements<IEngine>("part")
        .AsSingleton();
    const auto LMake = [&](TContainer& AContainer) {
      ++LBuilt;
      AContainer.Resolve<IEngine>("part");
      LRelease.WaitFor(-1);
      return std::make_shared<TEngine>();
    };
    auto LRegistration = LContainer.RegisterType<TEngine>(LMake).Implements<IEngine>();
    if (!LThroughLazy) LRegistration.AsSingleton();
    LContainer.Build();
    const Lazy<IEngine> LLazy = LContainer.ResolveLazy<IEngine>();
    Testing::TStartGate LStart(CThreads);
    std::vector<std::shared_ptr<IEngine>> LResults(CThreads);
    std::vector<std::thread> LThreads;
    for (std::shared_ptr<IEngine>& LResult : LResults)
      LThreads.emplace_back([&] {
        LStart.ArriveAndWait();
        LResult = LThroughLazy ? LLazy.Value() : LContainer.Resolve<IEngine>();
      });
    Clock().WaitForSleepers(CThreads);
    LRelease.SetEvent();
    for (std::thread& LThread : LThreads) LThread.join();
    EXPECT_NE(LResults[0], nullptr);
    EXPECT_EQ(std::count(LResults.begin(), LResults.end(), LResults[0]), CThreads);
    EXPECT_EQ(LBuilt * 10 + LPartBuilt, 11);
  }
}

TEST(ContainerConcurrencyTest, SingletonsInACycleThroughLazyResolveFromTwoThreadsWithoutDeadlock) {
  for (int LRound = 0; LRound < 20; ++LRound) {
    TContainer LContainer;
    LContainer.RegisterType<TChicken>().Implements<IChicken>().Constructors<Ctor<Lazy<IEgg>>>().AsSingleton();
    LContainer.RegisterType<TEgg>().Implements<IEgg>().Constructors<Ctor<Lazy<IChicken>>>().AsSingleton();
    LContainer.Build();
    std::shared_ptr<IChicken> LChicken;
    std::shared_ptr<IEgg> LEgg;
    Testing::RunConcurrently({[&] {
                                LChicken = LContainer.Resolve<IChicken>();
                                EXPECT_EQ(LChicken->Egg()->Chicken(), LChicken);
                              },
                              [&] {
                                LEgg = LContainer.Resolve<IEgg>();
                                EXPECT_EQ(LEgg->Chicken()->Egg(), LEgg);
                              }});
    EXPECT_EQ(LChicken->Egg(), LEgg);
    // The two hold each other through their Lazy values; let go so that they are freed.
    std::dynamic_pointer_cast<TChicken>(LChicken)->FEgg = {};
    std::dynamic_pointer_cast<TEgg>(LEgg)->FChicken = {};
  }
}

TEST(ContainerConcurrencyTest, CycleOfSingletonsAcrossTwoThreadsRaisesInsteadOfDeadlocking) {
  Testing::TManualClockScope LClock;
  TWaitableEvent LAStarted(true, false), LBStarted(true, false);
  TContainer LContainer;
  // Each waits until the other has started, so that each thread holds one half of the cycle.
  auto LRegister = [&](const char* AName, const char* AOther, TWaitableEvent& AStarted,
                       TWaitableEvent& AWait) {
    LContainer.RegisterType<TEngine>([=, &AStarted, &AWait](TContainer& AContainer) {
      AStarted.SetEvent();
      AWait.WaitFor(-1);
      AContainer.Resolve<IEngine>(AOther);
      return std::make_shared<TEngine>();
    }).Implements<IEngine>(AName).AsSingleton();
  };
  LRegister("A", "B", LAStarted, LBStarted);
  LRegister("B", "A", LBStarted, LAStarted);
  LContainer.Build();
  auto LResolveExpectingCycle = [&](const char* AName) {
    EXPECT_THAT([&] { LContainer.Resolve<IEngine>(AName); },
                ThrowsMessage<EContainerError>(HasSubstr("cycle")));
  };
  Testing::RunConcurrently({[&] { LResolveExpectingCycle("A"); }, [&] { LResolveExpectingCycle("B"); }});
}

TEST(ContainerConcurrencyTest, ResolutionsRunWhileAnotherThreadRegistersAndBuilds) {
  constexpr int CRegistrations = 50;
  TContainer LContainer;
  LContainer.RegisterType<TEngine>().Implements<IEngine>().AsSingleton();
  LContainer.Build();
  const std::shared_ptr<IEngine> LSingleton = LContainer.Resolve<IEngine>();
  std::atomic<bool> LDone{false};
  const auto LRegistrar = [&] {
    for (int LIndex = 0; LIndex < CRegistrations; ++LIndex) {
      LContainer.RegisterType<TEngine>().Implements<IEngine>("n" + std::to_string(LIndex));
      LContainer.Build();
    }
    LDone = true;
  };
  const auto LReader = [&] {
    while (!LDone) {
      EXPECT_EQ(LContainer.Resolve<IEngine>(), LSingleton);
      EXPECT_FALSE(LContainer.ResolveAll<IEngine>().ToVector().empty());
      std::this_thread::yield();
    }
  };
  Testing::RunConcurrently({LRegistrar, LReader, LReader});
  EXPECT_EQ(LContainer.ResolveAll<IEngine>().ToVector().size(), std::size_t{CRegistrations + 1});
}

}  // namespace
}  // namespace Orvane
