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
using ::testing::ThrowsMessage;

struct IEngine {
  static constexpr const char* IID = "{5A0C7E21-3B94-4F1D-8E62-0D1B7A4C9E01}";
  static constexpr const char* Name = "IEngine";
  virtual ~IEngine() = default;
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
};
struct ICar {
  static constexpr const char* IID = "{5A0C7E21-3B94-4F1D-8E62-0D1B7A4C9E04}";
  static constexpr const char* Name = "ICar";
  virtual ~ICar() = default;
};

struct TEngine : IEngine {
  explicit TEngine(std::string AKind = "petrol") : Kind(std::move(AKind)) {}
  std::string Kind;
};
struct TWheel : IWheel {};
struct THorn : IHorn {
  explicit THorn(std::string ATag) : Tag(std::move(ATag)) {}
  std::string Tag;
};
struct TCar : ICar {
  TCar() = default;
  explicit TCar(std::shared_ptr<IEngine>) : Arity(1) {}
  TCar(std::shared_ptr<IEngine>, std::shared_ptr<IWheel>) : Arity(2) {}
  int Arity = 0;
};

template <class T, class I>
std::shared_ptr<T> As(const std::shared_ptr<I>& AService) {
  return std::dynamic_pointer_cast<T>(AService);
}

TEST(ContainerTest, ChoosesTheLongestConstructorWhoseParametersItCanSupply) {
  struct TBrokenWheel : IWheel {  // needs a horn that nobody registers
    explicit TBrokenWheel(std::shared_ptr<IHorn>) {}
  };
  TContainer LContainer;
  LContainer.RegisterType<TCar>().Implements<ICar>().Constructors<
      Ctor<>, Ctor<std::shared_ptr<IEngine>, std::shared_ptr<IWheel>>, Ctor<std::shared_ptr<IEngine>>>();
  LContainer.Build();
  EXPECT_EQ(As<TCar>(LContainer.Resolve<ICar>())->Arity, 0);
  LContainer.RegisterType<TEngine>().Implements<IEngine>();
  LContainer.RegisterType<TBrokenWheel>().Implements<IWheel>().Constructors<Ctor<std::shared_ptr<IHorn>>>();
  LContainer.Build();
  // A wheel that cannot be built counts as missing.
  EXPECT_EQ(As<TCar>(LContainer.Resolve<ICar>())->Arity, 1);
  LContainer.RegisterType<TWheel>().Implements<IWheel>();
  LContainer.Build();
  EXPECT_EQ(As<TCar>(LContainer.Resolve<ICar>())->Arity, 2);
}

TEST(ContainerTest, RegistrationAfterABuildWaitsForTheNextBuildAndADelegateMustNotReturnNull) {
  TContainer LContainer;
  auto LEngine = LContainer.RegisterType<TEngine>().Implements<IEngine>().AsSingleton();
  LContainer.Build();
  EXPECT_THROW(LEngine.AsPerResolution(), EContainerError);
  LContainer.RegisterType<IHorn>([] { return std::shared_ptr<IHorn>(); }).Implements<IHorn>();
  const auto LResolveHorn = [&] { LContainer.Resolve<IHorn>(); };
  EXPECT_THAT(LResolveHorn, ThrowsMessage<EContainerError>(HasSubstr("not built since")));
  LContainer.Build();
  EXPECT_THAT(LResolveHorn, ThrowsMessage<EContainerError>(HasSubstr("returned nullptr")));
}

// Constructor parameters of these kinds are the module's registrations: a name, a TFunc that resolves
// at each call and a Lazy that resolves on first use.
TEST(ContainerTest, NamedRegistrationAnswersOnlyToItsNameAlsoThroughFuncAndLazy) {
  struct TGarage : IWheel {
    explicit TGarage(std::shared_ptr<IEngine> AEngine) : Engine(std::move(AEngine)) {}
    std::shared_ptr<IEngine> Engine;
  };
  TContainer LContainer;
  int LBuilt = 0;
  LContainer.RegisterType<TEngine>([&LBuilt] { return ++LBuilt, std::make_shared<TEngine>("diesel"); })
      .Implements<IEngine>("V8");
  LContainer.RegisterType<TGarage>().Implements<IWheel>().Constructors<
      Ctor<Named<std::shared_ptr<IEngine>, "V8">>>();
  LContainer.Build();
  const TFunc<IEngine> LMake = LContainer.ResolveFunc<IEngine>("V8");
  const Lazy<IEngine> LEngine = LContainer.ResolveLazy<IEngine>("V8");
  const Lazy<IEngine> LMissing = LContainer.ResolveLazy<IEngine>();
  EXPECT_TRUE(LBuilt == 0 && !LEngine.IsValueCreated());
  EXPECT_NE(LMake(), LMake());
  EXPECT_EQ(LEngine.Value(), LEngine.Value());
  EXPECT_EQ(LBuilt, 3);
  EXPECT_THROW(LMissing.Value(), EContainerError);
  EXPECT_THROW(LMissing.Value(), EContainerError);  // at every use, not only the first
  EXPECT_THROW(LContainer.ResolveFunc<IHorn>(), EContainerError);

  EXPECT_TRUE(LContainer.HasRegistration<IEngine>("V8") && !LContainer.HasRegistration<IEngine>(""));
  EXPECT_EQ(As<TEngine>(LContainer.Resolve<IEngine>("V8"))->Kind, "diesel");
  EXPECT_EQ(As<TEngine>(As<TGarage>(LContainer.Resolve<IWheel>())->Engine)->Kind, "diesel");
  EXPECT_THAT([&] { LContainer.Resolve<IEngine>(); },
              ThrowsMessage<EContainerError>(
                  AllOf(HasSubstr("IEngine"), HasSubstr(IEngine::IID), HasSubstr("registered: \"V8\""))));
}

TEST(ContainerTest, SequenceYieldsEveryRegistrationInOrderAndNamesTheOneThatCannotBeBuilt) {
  struct TBrokenHorn : THorn {
    explicit TBrokenHorn(std::shared_ptr<ICar>) : THorn("broken") {}
  };
  TContainer LContainer;
  for (const char* LTag : {"a", "", "c"})
    LContainer.RegisterType<THorn>([LTag] { return std::make_shared<THorn>(LTag); }).Implements<IHorn>(LTag);
  LContainer.Build();
  const auto LHorns = LContainer.ResolveLazy<IEnumerable<std::shared_ptr<IHorn>>>();
  std::string LTags;
  for (const auto& LHorn : LContainer.ResolveAll<IHorn>()) LTags += As<THorn>(LHorn)->Tag + "|";
  EXPECT_EQ(LTags, "a||c|");

  LContainer.RegisterType<TBrokenHorn>().Implements<IHorn>("d").Constructors<Ctor<std::shared_ptr<ICar>>>();
  LContainer.Build();
  std::size_t LBeforeFailure = 0;
  EXPECT_THAT(
      [&] {
        for (const auto& LHorn : LHorns.Value()) LBeforeFailure += LHorn != nullptr;
      },
      ThrowsMessage<EContainerError>(
          AllOf(HasSubstr("named \"d\""), HasSubstr("TBrokenHorn"), HasSubstr("ICar"))));
  EXPECT_EQ(LBeforeFailure, 3u);
}

TEST(ContainerTest, TeardownReleasesSingletonsLastBuiltFirstWithoutHoldingTheLock) {
  struct TTracked : TEngine {
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
    auto LMake = [&LContainer, &LReleased, AName, AResolveFirst...](TContainer& AContainer) {
      (AContainer.Resolve<IEngine>(AResolveFirst), ...);
      return std::make_shared<TTracked>(AName, LContainer, LReleased);
    };
    LContainer.RegisterType<TTracked>(LMake).template Implements<IEngine>(AName).AsSingleton();
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
