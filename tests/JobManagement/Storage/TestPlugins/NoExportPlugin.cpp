// A loadable library under the plug-in's file name whose export has another name.
#include <cstdint>

extern "C" __attribute__((visibility("default"))) void SetAllRightsForEveryone(const char16_t*, uint8_t) {}
