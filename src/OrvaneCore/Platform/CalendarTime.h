#pragma once

#include <cstdint>
#include <ctime>

namespace Orvane {

// The C library's calendar conversions that the platforms name differently; they convert, they
// never read the time.

// The broken-down UTC fields of AUnix (gmtime_r).
std::tm UtcFields(std::time_t AUnix);
// The local time zone's offset from UTC at AUnix, in seconds (east positive).
int64_t LocalOffsetAt(std::time_t AUnix);
// The seconds since the epoch of the UTC fields AFields (timegm).
std::time_t UtcFieldsToUnix(std::tm& AFields);

}  // namespace Orvane
