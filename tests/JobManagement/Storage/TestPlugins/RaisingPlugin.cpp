// A plug-in whose export raises an exception of a class defined here, so the class's code goes
// away with the library.
#include <cstdint>
#include <stdexcept>
#include <string>

namespace {

class EPluginRefused : public std::runtime_error {
public:
  explicit EPluginRefused(const std::string& AMessage) : std::runtime_error(AMessage) {}
  ~EPluginRefused() override;
};

EPluginRefused::~EPluginRefused() = default;

}  // namespace

extern "C" __attribute__((visibility("default"))) void SetAllRightsForEverybody(
    const char16_t* ADirOrFileName, uint8_t AIncludeWritePrivilege) {
  std::string LPath;
  for (const char16_t* LPos = ADirOrFileName; *LPos; ++LPos) LPath += static_cast<char>(*LPos);
  throw EPluginRefused("refused " + LPath + (AIncludeWritePrivilege ? " with write" : " without write"));
}
