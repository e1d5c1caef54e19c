#include <benchmark/benchmark.h>

#include <memory>

#include "OrvaneCore/Container/Container.h"

namespace Orvane {
namespace {

struct IAlpha {
  static constexpr const char* IID = "{0E6B9C34-52A1-4F7D-9B80-1D4C6A2E7F01}";
  virtual ~IAlpha() = default;
};
struct IBeta {
  static constexpr const char* IID = "{0E6B9C34-52A1-4F7D-9B80-1D4C6A2E7F02}";
  virtual ~IBeta() = default;
};
struct IGamma {
  static constexpr const char* IID = "{0E6B9C34-52A1-4F7D-9B80-1D4C6A2E7F03}";
  virtual ~IGamma() = default;
};
struct IService {
  static constexpr const char* IID = "{0E6B9C34-52A1-4F7D-9B80-1D4C6A2E7F04}";
  virtual ~IService() = default;
};

class TAlpha : public IAlpha {};
class TBeta : public IBeta {};
class TGamma : public IGamma {};

class TService : public IService {
public:
  TService(std::shared_ptr<IAlpha> AAlpha, std::shared_ptr<IBeta> ABeta, std::shared_ptr<IGamma> AGamma)
      : FAlpha(std::move(AAlpha)), FBeta(std::move(ABeta)), FGamma(std::move(AGamma)) {}

private:
  std::shared_ptr<IAlpha> FAlpha;
  std::shared_ptr<IBeta> FBeta;
  std::shared_ptr<IGamma> FGamma;
};

// Three singletons and a per-resolution service built from them.
void RegisterAll(TContainer& AContainer) {
  AContainer.RegisterType<TAlpha>().Implements<IAlpha>().AsSingleton();
  AContainer.RegisterType<TBeta>().Implements<IBeta>().AsSingleton();
  AContainer.RegisterType<TGamma>().Implements<IGamma>().AsSingleton();
  AContainer.RegisterType<TService>()
      .Implements<IService>()
      .Constructors<Ctor<std::shared_ptr<IAlpha>, std::shared_ptr<IBeta>, std::shared_ptr<IGamma>>>();
  AContainer.Build();
}

void ResolveSingleton(benchmark::State& AState) {
  TContainer LContainer;
  RegisterAll(LContainer);
  for (auto _ : AState) benchmark::DoNotOptimize(LContainer.Resolve<IAlpha>());
}
BENCHMARK(ResolveSingleton);

void ResolvePerResolutionWithThreeDependencies(benchmark::State& AState) {
  TContainer LContainer;
  RegisterAll(LContainer);
  for (auto _ : AState) benchmark::DoNotOptimize(LContainer.Resolve<IService>());
}
BENCHMARK(ResolvePerResolutionWithThreeDependencies);

void CallFunc(benchmark::State& AState) {
  TContainer LContainer;
  RegisterAll(LContainer);
  const TFunc<IService> LMake = LContainer.ResolveFunc<IService>();
  for (auto _ : AState) benchmark::DoNotOptimize(LMake());
}
BENCHMARK(CallFunc);

}  // namespace
}  // namespace Orvane
