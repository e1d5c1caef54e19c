#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "OrvaneCore/Base/Enumerable.h"
#include "OrvaneCore/Container/ContainerTypes.h"
#include "OrvaneCore/Container/Lazy.h"
#include "OrvaneCore/Platform/Mutex.h"
#include "OrvaneCore/Platform/ThreadAnnotations.h"

namespace Orvane {

template <class TImpl>
class TRegistration;

// The dependency-injection container. The host and every module meet in one of them,
// GlobalContainer(), which OrvaneCore owns.
//
//   GlobalContainer().RegisterType<TAgentTaskJobListProvider>()
//       .Implements<IJobListProvider<TScannerJobAction>>()
//       .Implements<IAgentTaskQueue>()
//       .Constructors<Ctor<std::shared_ptr<IJobServant>, TClientId>, Ctor<TClientId>>()
//       .AsSingleton();
//   GlobalContainer().Build();
//   std::shared_ptr<IAgentTaskQueue> LQueue = GlobalContainer().Resolve<IAgentTaskQueue>();
//
// Registrations wait until Build() makes them resolvable; registering more and building again
// keeps the singletons already made. Build also picks each class's constructor: the longest
// declared signature whose parameters can all be supplied (std::shared_ptr<I> and TFunc<I> need a
// buildable registration of I, a plain value needs its registration, Lazy<I> and sequences are
// always suppliable). An unnamed resolution answers with the last unnamed registration of the
// interface; named ones answer only to their name.
//
// Threading contract: every call is thread-safe. The container's lock guards the registrations and
// is never held while a constructor or a delegate runs or a singleton is released. A singleton is
// built once, by the first thread that asks; other threads asking meanwhile wait for it on the
// clock (TOnceState), and a cycle without a Lazy raises EContainerError instead of deadlocking.
// TFunc and Lazy values made by a container refer to it and must not outlive it.
class TContainer {
public:
  TContainer();
  ~TContainer();
  TContainer(const TContainer&) = delete;
  TContainer& operator=(const TContainer&) = delete;

  // ---- Registration.

  // A class, built by one of its declared constructors (or its parameterless one when none is
  // declared). Declare its services, constructors and lifetime on the returned object.
  template <class TImpl>
  TRegistration<TImpl> RegisterType();
  // A class built by ADelegate, called as ADelegate(TContainer&) or ADelegate(); it returns
  // std::shared_ptr<TImpl> (or something that converts to it) and must not return nullptr.
  template <class TImpl, class TDelegate>
  TRegistration<TImpl> RegisterType(TDelegate ADelegate);
  // An existing object as the singleton of I.
  template <class I>
  void RegisterInstance(std::shared_ptr<I> AInstance, std::string_view AName = {});
  // A plain value (TClientId), injected by copy into constructors that declare it.
  template <class T>
  void RegisterValue(T AValue, std::string_view AName = {});

  // Whether I has a registration (built or not yet built): under any name, or under AName.
  template <class I>
  bool HasRegistration() EXCLUDES(FLock);
  template <class I>
  bool HasRegistration(std::string_view AName) EXCLUDES(FLock);

  // Makes the registrations made so far resolvable and chooses their constructors.
  void Build() EXCLUDES(FLock);

  // ---- Resolution. Failures raise EContainerError; exceptions of constructors and delegates
  // reach the caller unchanged.

  template <class I>
  std::shared_ptr<I> Resolve(std::string_view AName = {});
  template <class T>
  T ResolveValue(std::string_view AName = {});
  // Every registration of I, named or not, in registration order. Each walk builds the elements
  // as it reaches them; one that cannot be built raises, naming its registration.
  template <class I>
  IEnumerable<std::shared_ptr<I>> ResolveAll();
  // A function resolving I under AName at every call; I must be registered.
  template <class I>
  TFunc<I> ResolveFunc(std::string_view AName = {});
  // Lazy<I> (resolved under AName) or Lazy<IEnumerable<std::shared_ptr<I>>> (all of I). Never
  // fails here; a missing registration raises on first use.
  template <class T>
  Lazy<T> ResolveLazy(std::string_view AName = {});

  // ---- End of life.

  // Releases the singletons, last built first, outside the lock, and then every registration.
  // The host calls it before it exits, while the logger still works. The container is empty and
  // usable afterwards.
  void Teardown() EXCLUDES(FLock);

  // ---- Used by TRegistration and the injection traits.

  uint64_t AddRegistration(TRegistrationInfo AInfo) EXCLUDES(FLock);
  // Changes a registration that was not built yet; raises once Build has taken it.
  void EditRegistration(uint64_t AId, const std::function<void(TRegistrationInfo&)>& AEdit) EXCLUDES(FLock);
  std::shared_ptr<void> ResolveService(std::string_view AIid, std::string_view AName,
                                       TReadableNameFunc AReadableName) EXCLUDES(FLock);
  // Raises the error of ResolveService when nothing answers to AIid and AName.
  void RequireService(std::string_view AIid, std::string_view AName, TReadableNameFunc AReadableName)
      EXCLUDES(FLock);
  using TUntypedEnumerator = std::function<std::optional<std::shared_ptr<void>>()>;
  // A fresh walk over every registration of AIid as it stands now.
  TUntypedEnumerator EnumerateServices(std::string AIid, TReadableNameFunc AReadableName) EXCLUDES(FLock);

private:
  struct TRecord;
  struct TServiceRef;
  struct TPlan;

  std::shared_ptr<const TPlan> CurrentPlan() EXCLUDES(FLock);
  bool HasService(std::string_view AIid, const std::string_view* AName) EXCLUDES(FLock);
  std::shared_ptr<void> Instantiate(const TPlan& APlan, const TServiceRef& ARef);
  std::shared_ptr<void> CreateInstance(const TPlan& APlan, const TServiceRef& ARef);
  void NoteSingletonBuilt(const std::shared_ptr<TRecord>& ARecord) EXCLUDES(FLock);
  [[noreturn]] void ThrowNotRegistered(std::string_view AIid, std::string_view AName,
                                       TReadableNameFunc AReadableName, const TPlan& APlan) EXCLUDES(FLock);

  // Guards everything below. Held only for bookkeeping: never while user code runs.
  TMutex FLock;
  // What Build made resolvable; replaced whole by each Build, so resolutions read it unlocked.
  std::shared_ptr<const TPlan> FPlan GUARDED_BY(FLock);
  // Registrations made since the last Build, in registration order.
  std::vector<TRegistrationInfo> FPending GUARDED_BY(FLock);
  // Singletons in the order they were built, for Teardown.
  std::vector<std::shared_ptr<TRecord>> FBuiltSingletons GUARDED_BY(FLock);
  // Counts teardowns: a singleton finished after a teardown is not kept.
  uint64_t FGeneration GUARDED_BY(FLock) = 0;
  uint64_t FNextId GUARDED_BY(FLock) = 0;
};

// The process-wide container of the host and its modules. Never destroyed: objects of modules may
// be referenced until the process ends; the host calls Teardown() before it exits.
TContainer& GlobalContainer();

// ---- How each kind of constructor parameter is described and supplied.

template <class T>
struct TInjection {
  static_assert(!std::is_abstract_v<T>, "declare an interface parameter as std::shared_ptr<I>");
  using TArgument = T;
  static TParamRequirement Requirement(std::string_view AName = {}) {
    return {TParamRequirement::TKind::Value, std::string(TServiceIdentity<T>::Iid()), std::string(AName),
            &TServiceIdentity<T>::ReadableName};
  }
  static T Resolve(TContainer& AContainer, std::string_view AName = {}) {
    return AContainer.ResolveValue<T>(AName);
  }
};

template <class I>
struct TInjection<std::shared_ptr<I>> {
  using TArgument = std::shared_ptr<I>;
  static TParamRequirement Requirement(std::string_view AName = {}) {
    return {TParamRequirement::TKind::Service, std::string(TServiceIdentity<I>::Iid()), std::string(AName),
            &TServiceIdentity<I>::ReadableName};
  }
  static TArgument Resolve(TContainer& AContainer, std::string_view AName = {}) {
    return AContainer.Resolve<I>(AName);
  }
};

template <class I>
struct TInjection<std::function<std::shared_ptr<I>()>> {
  using TArgument = TFunc<I>;
  static TParamRequirement Requirement(std::string_view AName = {}) {
    return {TParamRequirement::TKind::Func, std::string(TServiceIdentity<I>::Iid()), std::string(AName),
            &TServiceIdentity<I>::ReadableName};
  }
  static TArgument Resolve(TContainer& AContainer, std::string_view AName = {}) {
    return AContainer.ResolveFunc<I>(AName);
  }
};

template <class I>
struct TInjection<IEnumerable<std::shared_ptr<I>>> {
  using TArgument = IEnumerable<std::shared_ptr<I>>;
  static TParamRequirement Requirement(std::string_view = {}) {
    return {TParamRequirement::TKind::Sequence,
            std::string(TServiceIdentity<I>::Iid()),
            {},
            &TServiceIdentity<I>::ReadableName};
  }
  static TArgument Resolve(TContainer& AContainer, std::string_view = {}) {
    return AContainer.ResolveAll<I>();
  }
};

template <class I>
struct TInjection<Lazy<I>> {
  using TArgument = Lazy<I>;
  static TParamRequirement Requirement(std::string_view AName = {}) {
    return {TParamRequirement::TKind::Lazy, std::string(TServiceIdentity<I>::Iid()), std::string(AName),
            &TServiceIdentity<I>::ReadableName};
  }
  static TArgument Resolve(TContainer& AContainer, std::string_view AName = {}) {
    return AContainer.ResolveLazy<I>(AName);
  }
};

template <class I>
struct TInjection<Lazy<IEnumerable<std::shared_ptr<I>>>> {
  using TArgument = Lazy<IEnumerable<std::shared_ptr<I>>>;
  static TParamRequirement Requirement(std::string_view = {}) {
    return {TParamRequirement::TKind::Sequence,
            std::string(TServiceIdentity<I>::Iid()),
            {},
            &TServiceIdentity<I>::ReadableName};
  }
  static TArgument Resolve(TContainer& AContainer, std::string_view = {}) {
    return AContainer.ResolveLazy<IEnumerable<std::shared_ptr<I>>>();
  }
};

template <class T, TFixedString AName>
struct TInjection<Named<T, AName>> {
  using TArgument = typename TInjection<T>::TArgument;
  static TParamRequirement Requirement() { return TInjection<T>::Requirement(AName.View()); }
  static TArgument Resolve(TContainer& AContainer) {
    return TInjection<T>::Resolve(AContainer, AName.View());
  }
};

template <class TImpl, class TSignature>
struct TConstructorMaker;

template <class TImpl, class... TArgs>
struct TConstructorMaker<TImpl, Ctor<TArgs...>> {
  static_assert(std::is_constructible_v<TImpl, typename TInjection<TArgs>::TArgument...>,
                "the class has no constructor taking these parameters");
  static TConstructorInfo Make() {
    TConstructorInfo LInfo;
    LInfo.Params = {TInjection<TArgs>::Requirement()...};
    LInfo.Create = [](TContainer& AContainer) -> std::shared_ptr<void> {
      // Braced initialisation resolves the parameters from left to right.
      std::tuple<typename TInjection<TArgs>::TArgument...> LArgs{TInjection<TArgs>::Resolve(AContainer)...};
      return std::apply(
          [](auto&&... AArgs) { return std::make_shared<TImpl>(std::forward<decltype(AArgs)>(AArgs)...); },
          std::move(LArgs));
    };
    return LInfo;
  }
};

template <class TImpl, class I>
struct TServiceCast {
  static std::shared_ptr<void> Cast(const std::shared_ptr<void>& AInstance) {
    return std::shared_ptr<I>(std::static_pointer_cast<TImpl>(AInstance));
  }
};

// Declares what a registration offers and how it is built. Every call takes effect at once and is
// possible until the next Build.
template <class TImpl>
class TRegistration {
public:
  TRegistration(TContainer& AContainer, uint64_t AId) : FContainer(AContainer), FId(AId) {}

  // Adds the service I, resolvable under AName (empty: the default registration of I).
  template <class I>
  TRegistration& Implements(std::string_view AName = {}) {
    static_assert(std::is_convertible_v<TImpl*, I*>, "the class does not implement the interface");
    TServiceInfo LService{std::string(TServiceIdentity<I>::Iid()), std::string(AName),
                          &TServiceIdentity<I>::ReadableName, &TServiceCast<TImpl, I>::Cast};
    Edit([&](TRegistrationInfo& AInfo) { AInfo.Services.push_back(std::move(LService)); });
    return *this;
  }

  // Declares constructor signatures: Constructors<Ctor<A, B>, Ctor<A>>().
  template <class... TSignatures>
  TRegistration& Constructors() {
    std::vector<TConstructorInfo> LInfos{TConstructorMaker<TImpl, TSignatures>::Make()...};
    Edit([&](TRegistrationInfo& AInfo) {
      for (TConstructorInfo& LInfo : LInfos) AInfo.Constructors.push_back(std::move(LInfo));
    });
    return *this;
  }

  // Builds instances with ADelegate instead of a constructor (see TContainer::RegisterType).
  template <class TDelegate>
  TRegistration& DelegateTo(TDelegate ADelegate) {
    TInstanceFactory LFactory = [LDelegate =
                                     std::move(ADelegate)](TContainer& AContainer) -> std::shared_ptr<void> {
      std::shared_ptr<TImpl> LInstance;
      if constexpr (std::is_invocable_v<const TDelegate&, TContainer&>)
        LInstance = LDelegate(AContainer);
      else
        LInstance = LDelegate();
      return LInstance;
    };
    Edit([&](TRegistrationInfo& AInfo) { AInfo.Delegate = std::move(LFactory); });
    return *this;
  }

  TRegistration& AsSingleton() {
    Edit([](TRegistrationInfo& AInfo) { AInfo.Lifetime = TLifetime::Singleton; });
    return *this;
  }

  TRegistration& AsPerResolution() {
    Edit([](TRegistrationInfo& AInfo) { AInfo.Lifetime = TLifetime::PerResolution; });
    return *this;
  }

private:
  template <class TEdit>
  void Edit(TEdit&& AEdit) {
    FContainer.EditRegistration(FId, std::forward<TEdit>(AEdit));
  }

  TContainer& FContainer;
  const uint64_t FId;
};

// ---- TContainer's templates.

template <class TImpl>
TRegistration<TImpl> TContainer::RegisterType() {
  TRegistrationInfo LInfo;
  LInfo.ClassName = ReadableTypeName(typeid(TImpl));
  if constexpr (std::is_default_constructible_v<TImpl>)
    LInfo.ImplicitConstructor = TConstructorMaker<TImpl, Ctor<>>::Make();
  return TRegistration<TImpl>(*this, AddRegistration(std::move(LInfo)));
}

template <class TImpl, class TDelegate>
TRegistration<TImpl> TContainer::RegisterType(TDelegate ADelegate) {
  TRegistration<TImpl> LRegistration = RegisterType<TImpl>();
  LRegistration.DelegateTo(std::move(ADelegate));
  return LRegistration;
}

template <class I>
void TContainer::RegisterInstance(std::shared_ptr<I> AInstance, std::string_view AName) {
  if (!AInstance)
    throw EContainerError(
        "Cannot register nullptr as the instance of " +
        DescribeService(TServiceIdentity<I>::ReadableName(), TServiceIdentity<I>::Iid(), AName));
  RegisterType<I>([LInstance = std::move(AInstance)] { return LInstance; })
      .template Implements<I>(AName)
      .AsSingleton();
}

template <class T>
void TContainer::RegisterValue(T AValue, std::string_view AName) {
  RegisterType<T>([LValue = std::make_shared<T>(std::move(AValue))] { return LValue; })
      .template Implements<T>(AName)
      .AsSingleton();
}

template <class I>
bool TContainer::HasRegistration() {
  return HasService(TServiceIdentity<I>::Iid(), nullptr);
}

template <class I>
bool TContainer::HasRegistration(std::string_view AName) {
  return HasService(TServiceIdentity<I>::Iid(), &AName);
}

template <class I>
std::shared_ptr<I> TContainer::Resolve(std::string_view AName) {
  return std::static_pointer_cast<I>(
      ResolveService(TServiceIdentity<I>::Iid(), AName, &TServiceIdentity<I>::ReadableName));
}

template <class T>
T TContainer::ResolveValue(std::string_view AName) {
  return *std::static_pointer_cast<const T>(
      ResolveService(TServiceIdentity<T>::Iid(), AName, &TServiceIdentity<T>::ReadableName));
}

template <class I>
IEnumerable<std::shared_ptr<I>> TContainer::ResolveAll() {
  using TSequence = IEnumerable<std::shared_ptr<I>>;
  return TSequence([this]() -> typename TSequence::TEnumerator {
    return [LNext = EnumerateServices(
                std::string(TServiceIdentity<I>::Iid()),
                &TServiceIdentity<I>::ReadableName)]() -> std::optional<std::shared_ptr<I>> {
      std::optional<std::shared_ptr<void>> LItem = LNext();
      if (!LItem) return std::nullopt;
      return std::static_pointer_cast<I>(*LItem);
    };
  });
}

template <class I>
TFunc<I> TContainer::ResolveFunc(std::string_view AName) {
  RequireService(TServiceIdentity<I>::Iid(), AName, &TServiceIdentity<I>::ReadableName);
  return [this, LName = std::string(AName)] { return Resolve<I>(LName); };
}

template <class T>
Lazy<T> TContainer::ResolveLazy(std::string_view AName) {
  if constexpr (TLazyTraits<T>::IsSequence) {
    using TElement = typename TLazyTraits<T>::TItem::element_type;
    return Lazy<T>([this] { return ResolveAll<TElement>(); },
                   [] { return "Lazy<IEnumerable<" + TServiceIdentity<TElement>::ReadableName() + ">>"; });
  } else {
    std::string LName(AName);
    return Lazy<T>([this, LName] { return Resolve<T>(LName); },
                   [LName] {
                     return "Lazy<" +
                            DescribeService(TServiceIdentity<T>::ReadableName(), TServiceIdentity<T>::Iid(),
                                            LName) +
                            ">";
                   });
  }
}

}  // namespace Orvane
