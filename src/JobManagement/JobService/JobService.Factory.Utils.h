#pragma once

#include <functional>
#include <string>

#include "OrvaneCore/Container/Container.h"
#include "OrvaneCore/Interfaces/JobProcessorPool.Intf.h"

namespace Orvane {

class TScannerJobAction;

// A class of processor pools for one job-action class, as the container needs it: the class's
// name (the name of its untyped registration) and the registration of the class with the
// constructors the container may use. Made by MakeProcessorPoolClass.
template <class T>
struct TCustomJobProcessorPoolClass {
  std::string ClassName;
  // Registers the class as IJobProcessorPool<T> and as IJobProcessorPool<> named AName, a singleton.
  std::function<void(TContainer& AContainer, const std::string& AName)> Register;
};

// MakeProcessorPoolClass<TScannerJobAction, TAgentTaskJobProcessorPool, Ctor<...>,
// ...>("TAgentTaskJobProcessorPool")
template <class T, class TPool, class... TSignatures>
TCustomJobProcessorPoolClass<T> MakeProcessorPoolClass(std::string AClassName) {
  return {std::move(AClassName), [](TContainer& AContainer, const std::string& AName) {
            AContainer.RegisterType<TPool>()
                .template Implements<IJobProcessorPool<T>>()
                .template Implements<IJobProcessorPool<>>(AName)
                .template Constructors<TSignatures...>()
                .AsSingleton();
          }};
}

template <class T>
class TJobServiceFactoryRegistrationUtils;

// Registers the job-service family of one job-action class: the factory, the start condition
// storage manager, the manual-job savers and loaders (step A) and, when given, the processor pool
// (step B), then builds the container. A saver or loader the host registered before keeps its
// place; the job list's loader is always registered.
//
// A descendant that registers a different family overrides RegisterGenericFamily and runs
// Register on an instance of itself; the class-level entries use this class's family.
template <>
class TJobServiceFactoryRegistrationUtils<TScannerJobAction> {
public:
  virtual ~TJobServiceFactoryRegistrationUtils() = default;

  static void RegisterJobServiceFactory(TContainer& AContainer);
  static void RegisterJobServiceFactory(
      TContainer& AContainer, const TCustomJobProcessorPoolClass<TScannerJobAction>& AProcessorPoolClass);

  // Steps A and, with a pool class, B; then Build.
  void Register(TContainer& AContainer,
                const TCustomJobProcessorPoolClass<TScannerJobAction>* AProcessorPoolClass);

protected:
  // Step A.
  virtual void RegisterGenericFamily(TContainer& AContainer);
  // Step B.
  virtual void RegisterProcessorPool(
      TContainer& AContainer, const TCustomJobProcessorPoolClass<TScannerJobAction>& AProcessorPoolClass);
};

}  // namespace Orvane
