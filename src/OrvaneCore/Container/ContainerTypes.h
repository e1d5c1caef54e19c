#pragma once

#include <algorithm>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <typeinfo>
#include <vector>

#include "OrvaneCore/Base/Exceptions.h"

namespace Orvane {

class TContainer;

// Raised for anything the container cannot do: a service without registration, a registration
// none of whose constructors can be supplied, a cycle of dependencies, a change to a registration
// that was built already. The message names the interface (readable name and IID), the
// registration name and, where one is missing, the parameter.
ORVANE_DECLARE_EXCEPTION(EContainerError, Exception);

// The name of a C++ type as people read it ("TJobQueue", "IJobListProvider<TScannerJobAction>"),
// for messages only: it differs between compilers and never serves as a key.
std::string ReadableTypeName(const std::type_info& AType);

template <class T>
concept CHasIid = requires {
  { T::IID } -> std::convertible_to<const char*>;
};

// The identity under which a type is registered and resolved. Keys are the IID text (plus the
// registration name), never typeid or template statics: those differ between the shared libraries
// that meet in one container. An interface declares `static constexpr const char* IID` and may
// declare `static constexpr const char* Name` for messages. A type that cannot carry the members
// (a plain value type of another unit) is given `template <> struct TServiceIdentity<T>` with the
// same two functions instead.
template <class T>
struct TServiceIdentity {
  static_assert(CHasIid<T>,
                "a registered type declares static constexpr const char* IID, or has a "
                "TServiceIdentity<T> of its own");
  static std::string_view Iid() { return T::IID; }
  static std::string ReadableName() {
    if constexpr (requires {
                    { T::Name } -> std::convertible_to<const char*>;
                  })
      return T::Name;
    else
      return ReadableTypeName(typeid(T));
  }
};

// "IJobQueue {GUID}", followed by ` named "AgentTasks"` for a named registration.
std::string DescribeService(std::string_view AReadableName, std::string_view AIid, std::string_view AName);

// A text usable as a template argument: Named<std::shared_ptr<IJobProcessorPool<>>,
// "TAgentTaskJobProcessorPool">.
template <std::size_t N>
struct TFixedString {
  char FText[N]{};
  constexpr TFixedString(const char (&AText)[N]) { std::copy_n(AText, N, FText); }
  constexpr std::string_view View() const { return {FText, N - 1}; }
};

// ---- Markers used in constructor signatures.

// One constructor signature of a registered class: Ctor<std::shared_ptr<IJobQueue<>>, TClientId>.
// The constructor receives the parameters in this order.
template <class... TArgs>
struct Ctor {};

// A parameter resolved under a registration name: Named<std::shared_ptr<IAgentTask>, "TSettingsWatchTask">.
// The constructor receives the inner type (here std::shared_ptr<IAgentTask>). Works for every
// kind of parameter: Named<TFunc<I>, "x">, Named<Lazy<I>, "x">, Named<TClientId, "x">.
template <class T, TFixedString AName>
struct Named {};

// A function that resolves a new I (or the singleton) on every call.
template <class I>
using TFunc = std::function<std::shared_ptr<I>()>;

// ---- What a registration records. Filled by TRegistration<T>, read by the container.

enum class TLifetime : uint8_t { PerResolution, Singleton };

using TReadableNameFunc = std::string (*)();
// Builds one instance (held as std::shared_ptr to the implementing class, type-erased).
using TInstanceFactory = std::function<std::shared_ptr<void>(TContainer&)>;
// Turns an instance of the implementing class into the pointer to one of its service interfaces.
using TServiceCaster = std::shared_ptr<void> (*)(const std::shared_ptr<void>&);

// What a constructor parameter needs from the container.
struct TParamRequirement {
  enum class TKind : uint8_t {
    Service,   // std::shared_ptr<I>: a buildable registration of I under the name
    Func,      // TFunc<I>: the same, resolved at each call
    Value,     // a plain value: a registration of the value type under the name
    Lazy,      // Lazy<I>: always suppliable; resolves on first use
    Sequence,  // IEnumerable<std::shared_ptr<I>> or a Lazy of it: always suppliable, maybe empty
  };
  TKind Kind = TKind::Service;
  std::string Iid;
  std::string Name;
  TReadableNameFunc ReadableName = nullptr;

  // "std::shared_ptr<IJobQueue {GUID}>", "Lazy<IAgentTask {GUID} named "x">" and the like.
  std::string Describe() const;
};

struct TConstructorInfo {
  std::vector<TParamRequirement> Params;
  TInstanceFactory Create;
};

struct TServiceInfo {
  std::string Iid;
  std::string Name;
  TReadableNameFunc ReadableName = nullptr;
  TServiceCaster Caster = nullptr;

  std::string Describe() const { return DescribeService(ReadableName(), Iid, Name); }
};

struct TRegistrationInfo {
  uint64_t Id = 0;
  std::string ClassName;
  std::vector<TServiceInfo> Services;
  TLifetime Lifetime = TLifetime::PerResolution;
  std::vector<TConstructorInfo> Constructors;
  // The parameterless constructor of a default-constructible class, used when no signature was
  // declared.
  std::optional<TConstructorInfo> ImplicitConstructor;
  TInstanceFactory Delegate;
};

}  // namespace Orvane
