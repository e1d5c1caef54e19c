#include "OrvaneCore/Platform/CalendarTime.h"

namespace Orvane {

std::tm UtcFields(std::time_t AUnix) {
  std::tm LFields{};
  gmtime_r(&AUnix, &LFields);
  return LFields;
}

int64_t LocalOffsetAt(std::time_t AUnix) {
  std::tm LLocal{};
  localtime_r(&AUnix, &LLocal);
  return LLocal.tm_gmtoff;
}

std::time_t UtcFieldsToUnix(std::tm& AFields) {
  return timegm(&AFields);
}

}  // namespace Orvane
