#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "OrvaneCore/Container/Container.h"
#include "OrvaneCore/Container/TestPlugin/PluginContract.h"
#include "OrvaneCore/Platform/DynamicLibrary.h"
#include "OrvaneCore/Platform/Paths.h"

namespace Orvane {
namespace {

class TGreetingPrefix : public IGreetingPrefix {
public:
  std::string Prefix() const override { return "Hello, "; }
};

TEST(ContainerPluginTest, RegistrationMadeByALoadedLibraryIsResolvedByTheProgram) {
  TContainer& LContainer = GlobalContainer();
  LContainer.ResetForTesting();
  LContainer.RegisterType<TGreetingPrefix>().Implements<IGreetingPrefix>();
  LContainer.Build();
  ASSERT_FALSE(LContainer.HasRegistration<IPluginGreeter>());
  {
    TDynamicLibrary LLibrary = TDynamicLibrary::Load(GetExecutableDir() + "/libOrvaneContainerTestPlugin.so");
    ASSERT_TRUE(LLibrary.IsLoaded()) << LLibrary.LastErrorText();
    std::shared_ptr<IPluginGreeter> LGreeter = LContainer.Resolve<IPluginGreeter>();
    EXPECT_EQ(LGreeter->Greet("world"), "Hello, world");
    EXPECT_EQ(LContainer.Resolve<IPluginGreeter>(), LGreeter);
    LGreeter.reset();
    // The library's objects and code go before the library is closed.
    LContainer.ResetForTesting();
  }
}

}  // namespace
}  // namespace Orvane
