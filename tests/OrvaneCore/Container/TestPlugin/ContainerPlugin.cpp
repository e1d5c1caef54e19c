// A library that registers its class in the global container when it is loaded, as a module does.
#include <exception>

#include "OrvaneCore/Container/Container.h"
#include "OrvaneCore/Logging/OrvaneLogger.h"
#include "PluginContract.h"

namespace Orvane {
namespace {

class TPluginGreeter : public IPluginGreeter {
public:
  explicit TPluginGreeter(std::shared_ptr<IGreetingPrefix> APrefix) : FPrefix(std::move(APrefix)) {}
  std::string Greet(const std::string& AWho) const override { return FPrefix->Prefix() + AWho; }

private:
  std::shared_ptr<IGreetingPrefix> FPrefix;
};

// An exception cannot leave dlopen: a failed registration is logged, and resolving finds nothing.
struct TRegisterOnLoad {
  TRegisterOnLoad() {
    try {
      GlobalContainer()
          .RegisterType<TPluginGreeter>()
          .Implements<IPluginGreeter>()
          .Constructors<Ctor<std::shared_ptr<IGreetingPrefix>>>()
          .AsSingleton();
      GlobalContainer().Build();
    } catch (const std::exception& AException) {
      OrvaneLogger()->LogException(AException, "ContainerPlugin.RegisterTypes");
    }
  }
} GRegisterOnLoad;

}  // namespace
}  // namespace Orvane
