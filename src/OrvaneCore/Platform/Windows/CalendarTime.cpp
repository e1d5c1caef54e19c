#include "OrvaneCore/Platform/CalendarTime.h"

namespace Orvane {

std::tm UtcFields(std::time_t AUnix) {
  std::tm LFields{};
  gmtime_s(&LFields, &AUnix);
  return LFields;
}

int64_t LocalOffsetAt(std::time_t AUnix) {
  // The local fields read back as UTC lie the offset away from AUnix.
  std::tm LLocal{};
  if (localtime_s(&LLocal, &AUnix) != 0) return 0;
  return static_cast<int64_t>(_mkgmtime(&LLocal)) - static_cast<int64_t>(AUnix);
}

std::time_t UtcFieldsToUnix(std::tm& AFields) {
  return _mkgmtime(&AFields);
}

}  // namespace Orvane
