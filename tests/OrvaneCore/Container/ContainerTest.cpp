#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "OrvaneCore/Container/Container.h"

namespace Orvane {
namespace {

using ::testing::AllOf;
using ::testing::HasSubstr;

struct IEngine {
  static constexpr const char* IID = "{5A0C7E21-3B94-4F1D-8E62-0D1B7A4C9E01}";
  static constexpr const char* Name = "IEngine";
  virtual ~IEngine() = default;
  virtual std::string Kind() const = 0;
};

struct IWheel {
  static constexpr const char* IID = "{5A0C7E21-3B94-4F1D-8E62-0D1B7A4C9E02}";
  static constexpr const char* Name = "IWheel";
  virtual ~IWheel() = default;
};

// Without a Name: messages fall back to the C++ name.
struct IHorn {
  static constexpr const char* IID = "{5A0C7E21-3B94-4F1D-8E62-0D1B7A4C9E03}";
  virtual ~IHorn() = default;
  virtual std::string Tag() const = 0;
};

struct ICar {
  static constexpr const char* IID = "{5A0C7E21-3B94-4F1D-8E62-0D1B7A4C9E04}";
  static constexpr const char* Name = "ICar";
  virtual ~ICar() = default;
  virtual int Arity() const = 0;
};

struct TClientIdValue {
  static constexpr const char* IID = "{5A0C7E21-3B94-4F1D-8E62-0D1B7A4C9E05}";
  std::string Value;
};

// A value type of another unit that cannot carry an IID.
struct TPort {
  int Value = 0;
};

class TEngine : public IEngine {
public:
  explicit TEngine(std::string AKind = "petrol") : FKind(std::move(AKind)) {}
  std::string Kind() const override { return FKind; }

private:
  std::string FKind;
};

class TWheel : public IWheel {};

class THorn : public IHorn {
public:
  explicit THorn(std::string ATag) : FTag(std::move(ATag)) {}
  std::string Tag() const override { return FTag; }

private:
  std::string FTag;
};

class TCar : public ICar {
public:
  TCar() : FArity(0) {}
  explicit TCar(std::shared_ptr<IEngine> AEngine) : FArity(1), FEngine(std::move(AEngine)) {}
  TCar(std::shared_ptr<IEngine> AEngine, std::shared_ptr<IWheel>) : FArity(2), FEngine(std::move(AEngine)) {}
  int Arity() const override { return FArity; }

private:
  int FArity;
  std::shared_ptr<IEngine> FEngine;
};

// Needs a horn that nobody registers.
class TBrokenWheel : public IWheel {
public:
  explicit TBrokenWheel(std::shared_ptr<IHorn>) {}
};

// One object behind two interfaces.
class TEngineAndWheel : public IEngine, public IWheel {
public:
  std::string Kind() const override { return "both"; }
};

}  // namespace

template <>
struct TServiceIdentity<TPort> {
  static std::string_view Iid() { return "{5A0C7E21-3B94-4F1D-8E62-0D1B7A4C9E06}"; }
  static std::string ReadableName() { return "TPort"; }
};

namespace {

TEST(ContainerTest, ChoosesTheLongestConstructorWhoseParametersItCanSupply) {
  TContainer LContainer;
  LContainer.RegisterType<TCar>()
      .Implements<ICar>()
      .Constructors<Ctor<>, Ctor<std::shared_ptr<IEngine>, std::shared_ptr<IWheel>>,
                    Ctor<std::shared_ptr<IEngine>>>();
  LContainer.Build();
  EXPECT_EQ(LContainer.Resolve<ICar>()->Arity(), 0);

  LContainer.RegisterType<TEngine>().Implements<IEngine>();
  LContainer.RegisterType<TBrokenWheel>().Implements<IWheel>().Constructors<Ctor<std::shared_ptr<IHorn>>>();
  LContainer.Build();
  EXPECT_EQ(LContainer.Resolve<ICar>()->Arity(), 1) << "a wheel that cannot be built counts as missing";

  LContainer.RegisterType<TWheel>().Implements<IWheel>();
  LContainer.Build();
  EXPECT_EQ(LContainer.Resolve<ICar>()->Arity(), 2);
}

TEST(ContainerTest, RegistrationAfterABuildNeedsAnotherBuildAndKeepsTheSingletons) {
  TContainer LContainer;
  auto LEngine = LContainer.RegisterType<TEngine>().Implements<IEngine>().AsSingleton();
  LContainer.Build();
  const std::shared_ptr<IEngine> LFirst = LContainer.Resolve<IEngine>();
  EXPECT_THROW(LEngine.AsPerResolution(), EContainerError);

  LContainer.RegisterType<TWheel>().Implements<IWheel>();
  EXPECT_TRUE(LContainer.HasRegistration<IWheel>());
  try {
    LContainer.Resolve<IWheel>();
    ADD_FAILURE() << "resolved before the build";
  } catch (const EContainerError& AError) {
    EXPECT_THAT(AError.Message(), HasSubstr("not built since"));
  }
  LContainer.Build();
  EXPECT_NE(LContainer.Resolve<IWheel>(), nullptr);
  EXPECT_EQ(LContainer.Resolve<IEngine>(), LFirst);
}

TEST(ContainerTest, NamedRegistrationAnswersOnlyToItsName) {
  struct TGarage : IWheel {
    explicit TGarage(std::shared_ptr<IEngine> AEngine) : Engine(std::move(AEngine)) {}
    std::shared_ptr<IEngine> Engine;
  };
  TContainer LContainer;
  LContainer.RegisterType<TEngine>([] { return std::make_shared<TEngine>("diesel"); })
      .Implements<IEngine>("V8");
  LContainer.RegisterType<TGarage>()
      .Implements<IWheel>()
      .Constructors<Ctor<Named<std::shared_ptr<IEngine>, "V8">>>();
  LContainer.Build();

  EXPECT_TRUE(LContainer.HasRegistration<IEngine>());
  EXPECT_TRUE(LContainer.HasRegistration<IEngine>("V8"));
  EXPECT_FALSE(LContainer.HasRegistration<IEngine>(""));
  EXPECT_EQ(LContainer.Resolve<IEngine>("V8")->Kind(), "diesel");
  EXPECT_EQ(std::dynamic_pointer_cast<TGarage>(LContainer.Resolve<IWheel>())->Engine->Kind(), "diesel");
  try {
    LContainer.Resolve<IEngine>();
    ADD_FAILURE() << "a named registration answered an unnamed resolution";
  } catch (const EContainerError& AError) {
    EXPECT_THAT(AError.Message(),
                AllOf(HasSubstr("IEngine"), HasSubstr(IEngine::IID), HasSubstr("registered: \"V8\"")));
  }
}

TEST(ContainerTest, PerResolutionGivesNewObjectsAndASingletonOneObjectThroughEachInterface) {
  TContainer LContainer;
  LContainer.RegisterType<TEngine>().Implements<IEngine>();
  LContainer.RegisterType<TEngineAndWheel>().Implements<IEngine>("both").Implements<IWheel>().AsSingleton();
  LContainer.Build();

  EXPECT_NE(LContainer.Resolve<IEngine>(), LContainer.Resolve<IEngine>());
  const auto LAsEngine = std::dynamic_pointer_cast<TEngineAndWheel>(LContainer.Resolve<IEngine>("both"));
  const auto LAsWheel = std::dynamic_pointer_cast<TEngineAndWheel>(LContainer.Resolve<IWheel>());
  ASSERT_NE(LAsEngine, nullptr);
  EXPECT_EQ(LAsEngine, LAsWheel);
  EXPECT_EQ(LContainer.Resolve<IWheel>(), LContainer.Resolve<IWheel>());
}

TEST(ContainerTest, SequenceYieldsEveryRegistrationInOrderAndNamesTheOneThatCannotBeBuilt) {
  struct THornBox : IWheel {
    explicit THornBox(Lazy<IEnumerable<std::shared_ptr<IHorn>>> AHorns) : Horns(std::move(AHorns)) {}
    Lazy<IEnumerable<std::shared_ptr<IHorn>>> Horns;
  };
  struct TBrokenHorn : THorn {
    explicit TBrokenHorn(std::shared_ptr<ICar>) : THorn("broken") {}
  };
  TContainer LContainer;
  for (const char* LTag : {"a", "", "c"})
    LContainer.RegisterType<THorn>([LTag] { return std::make_shared<THorn>(LTag); }).Implements<IHorn>(LTag);
  LContainer.RegisterType<THornBox>()
      .Implements<IWheel>()
      .Constructors<Ctor<Lazy<IEnumerable<std::shared_ptr<IHorn>>>>>();
  LContainer.Build();

  std::vector<std::string> LTags;
  for (const std::shared_ptr<IHorn>& LHorn : LContainer.ResolveAll<IHorn>()) LTags.push_back(LHorn->Tag());
  EXPECT_EQ(LTags, (std::vector<std::string>{"a", "", "c"}));
  const auto LBox = std::dynamic_pointer_cast<THornBox>(LContainer.Resolve<IWheel>());
  EXPECT_EQ(LBox->Horns.Value().ToVector().size(), 3u);

  LContainer.RegisterType<TBrokenHorn>().Implements<IHorn>("d").Constructors<Ctor<std::shared_ptr<ICar>>>();
  LContainer.Build();
  std::vector<std::string> LBeforeFailure;
  try {
    for (const std::shared_ptr<IHorn>& LHorn : LBox->Horns.Value()) LBeforeFailure.push_back(LHorn->Tag());
    ADD_FAILURE() << "the walk passed a horn that cannot be built";
  } catch (const EContainerError& AError) {
    EXPECT_THAT(AError.Message(),
                AllOf(HasSubstr("named \"d\""), HasSubstr("TBrokenHorn"), HasSubstr("ICar")));
  }
  EXPECT_EQ(LBeforeFailure.size(), 3u);
}

TEST(ContainerTest, FuncResolvesAtEachCallAndLazyOnFirstUse) {
  struct TUser : IWheel {
    TUser(TFunc<IEngine> AMake, Lazy<IEngine> AEngine, Lazy<IHorn> AMissing)
        : Make(std::move(AMake)), Engine(std::move(AEngine)), Missing(std::move(AMissing)) {}
    TFunc<IEngine> Make;
    Lazy<IEngine> Engine;
    Lazy<IHorn> Missing;
  };
  TContainer LContainer;
  int LBuilt = 0;
  LContainer
      .RegisterType<TEngine>([&LBuilt] {
        ++LBuilt;
        return std::make_shared<TEngine>();
      })
      .Implements<IEngine>();
  LContainer.RegisterType<TUser>()
      .Implements<IWheel>()
      .Constructors<Ctor<TFunc<IEngine>, Lazy<IEngine>, Lazy<IHorn>>>();
  LContainer.Build();

  const auto LUser = std::dynamic_pointer_cast<TUser>(LContainer.Resolve<IWheel>());
  EXPECT_EQ(LBuilt, 0);
  EXPECT_NE(LUser->Make(), LUser->Make());
  EXPECT_EQ(LBuilt, 2);
  EXPECT_FALSE(LUser->Engine.IsValueCreated());
  EXPECT_EQ(LUser->Engine.Value(), LUser->Engine.Value());
  EXPECT_EQ(LBuilt, 3);
  for (int LAttempt = 0; LAttempt < 2; ++LAttempt)
    EXPECT_THROW(LUser->Missing.Value(), EContainerError) << "an unregistered Lazy raises at every use";
  EXPECT_THROW(LContainer.ResolveFunc<IHorn>(), EContainerError);
}

TEST(ContainerTest, ValuesAreInjectedByCopyUnderTheirNames) {
  struct TReporter : IWheel {
    TReporter(TClientIdValue AClient, const TClientIdValue& ABackup, TPort APort)
        : Text(AClient.Value + "/" + ABackup.Value + ":" + std::to_string(APort.Value)) {}
    std::string Text;
  };
  TContainer LContainer;
  LContainer.RegisterValue(TClientIdValue{"client-1"});
  LContainer.RegisterValue(TClientIdValue{"client-2"}, "backup");
  LContainer.RegisterValue(TPort{8080});
  LContainer.RegisterType<TReporter>()
      .Implements<IWheel>()
      .Constructors<Ctor<TClientIdValue, Named<TClientIdValue, "backup">, TPort>>();
  LContainer.Build();
  EXPECT_EQ(std::dynamic_pointer_cast<TReporter>(LContainer.Resolve<IWheel>())->Text,
            "client-1/client-2:8080");
  EXPECT_EQ(LContainer.ResolveValue<TClientIdValue>("backup").Value, "client-2");
}

TEST(ContainerTest, DelegatesMayResolveFromTheContainerAndMustNotReturnNull) {
  TContainer LContainer;
  LContainer.RegisterType<TEngine>().Implements<IEngine>().AsSingleton();
  LContainer
      .RegisterType<ICar>(
          [](TContainer& AContainer) { return std::make_shared<TCar>(AContainer.Resolve<IEngine>()); })
      .Implements<ICar>("AgentTasks");
  LContainer.RegisterType<IHorn>([] { return std::shared_ptr<IHorn>(); }).Implements<IHorn>();
  LContainer.Build();

  EXPECT_EQ(LContainer.Resolve<ICar>("AgentTasks")->Arity(), 1);
  EXPECT_NE(LContainer.Resolve<ICar>("AgentTasks"), LContainer.Resolve<ICar>("AgentTasks"));
  try {
    LContainer.Resolve<IHorn>();
    ADD_FAILURE() << "a null instance was handed out";
  } catch (const EContainerError& AError) {
    EXPECT_THAT(AError.Message(), HasSubstr("returned nullptr"));
  }
}

TEST(ContainerTest, ACycleWithoutLazyRaisesAndLeavesTheSingletonBuildable) {
  struct TLoopEngine : TEngine {};
  struct TLoopCar : TCar {
    explicit TLoopCar(std::shared_ptr<IWheel>) {}
  };
  struct TLoopWheel : TWheel {
    explicit TLoopWheel(std::shared_ptr<ICar>) {}
  };
  TContainer LContainer;
  bool LCycle = true;
  // The constructor asks for its own interface while it is being built.
  LContainer
      .RegisterType<TLoopEngine>([&](TContainer& AContainer) {
        if (LCycle) AContainer.Resolve<IEngine>();
        return std::make_shared<TLoopEngine>();
      })
      .Implements<IEngine>()
      .AsSingleton();
  LContainer.RegisterType<TLoopCar>().Implements<ICar>().Constructors<Ctor<std::shared_ptr<IWheel>>>();
  LContainer.RegisterType<TLoopWheel>().Implements<IWheel>().Constructors<Ctor<std::shared_ptr<ICar>>>();
  LContainer.Build();

  try {
    LContainer.Resolve<IEngine>();
    ADD_FAILURE() << "the cycle went unnoticed";
  } catch (const EContainerError& AError) {
    EXPECT_THAT(AError.Message(), AllOf(HasSubstr("TLoopEngine"), HasSubstr("cycle")));
  }
  LCycle = false;
  EXPECT_NE(LContainer.Resolve<IEngine>(), nullptr)
      << "a failed build leaves the singleton to the next caller";
  // A declared cycle never gets a constructor.
  EXPECT_THROW(LContainer.Resolve<ICar>(), EContainerError);
}

TEST(ContainerTest, TeardownReleasesSingletonsLastBuiltFirstWithoutHoldingTheLock) {
  struct TTracked : TEngine, TWheel {
    TTracked(std::string AName, TContainer& AContainer, std::vector<std::string>& AReleased)
        : Name(std::move(AName)), Container(AContainer), Released(AReleased) {}
    ~TTracked() override {
      Container.HasRegistration<IEngine>();  // would deadlock if the container held its lock
      Released.push_back(Name);
    }
    std::string Name;
    TContainer& Container;
    std::vector<std::string>& Released;
  };
  TContainer LContainer;
  std::vector<std::string> LReleased;
  auto LRegister = [&](const char* AName, auto... AResolveFirst) {
    LContainer
        .RegisterType<TTracked>([&LContainer, &LReleased, AName, AResolveFirst...](TContainer& AContainer) {
          (AContainer.Resolve<IEngine>(AResolveFirst), ...);
          return std::make_shared<TTracked>(AName, LContainer, LReleased);
        })
        .template Implements<IEngine>(AName)
        .AsSingleton();
  };
  LRegister("inner");
  LRegister("outer", "inner");  // built after "inner", from inside its own construction
  LRegister("last");
  LContainer.Build();
  LContainer.Resolve<IEngine>("outer");
  LContainer.Resolve<IEngine>("last");

  LContainer.Teardown();
  EXPECT_EQ(LReleased, (std::vector<std::string>{"last", "outer", "inner"}));
  EXPECT_FALSE(LContainer.HasRegistration<IEngine>());
  LContainer.RegisterType<TEngine>().Implements<IEngine>();
  LContainer.Build();
  EXPECT_NE(LContainer.Resolve<IEngine>(), nullptr);
}

}  // namespace
}  // namespace Orvane
