#pragma once

#include <memory>
#include <string>

// What the container test and the library it loads with dlopen share: two interfaces, one
// implemented on each side.
namespace Orvane {

// Implemented by the test program, injected into the library's class.
struct IGreetingPrefix {
  static constexpr const char* IID = "{C41B6E0D-9F2A-4D73-8B15-6A0E3D7C2F01}";
  static constexpr const char* Name = "IGreetingPrefix";
  virtual ~IGreetingPrefix() = default;
  virtual std::string Prefix() const = 0;
};

// Implemented by the library, registered from its static initialiser.
struct IPluginGreeter {
  static constexpr const char* IID = "{C41B6E0D-9F2A-4D73-8B15-6A0E3D7C2F02}";
  static constexpr const char* Name = "IPluginGreeter";
  virtual ~IPluginGreeter() = default;
  virtual std::string Greet(const std::string& AWho) const = 0;
};

}  // namespace Orvane
