#pragma once

#include <ctime>

#include "Support/EnvScope.h"

namespace Orvane::Testing {

// Central European time without tzdata: UTC+1, UTC+2 in summer. In 2026 the clock jumps from 02:00
// to 03:00 on 29 March and falls back from 03:00 to 02:00 on 25 October.
inline constexpr const char* CCentralEurope = "CET-1CEST,M3.5.0,M10.5.0/3";

// Sets TZ for one test and re-reads it on both ends.
class TTimeZoneScope {
public:
  explicit TTimeZoneScope(const char* AZone) : FEnv("TZ", AZone) { tzset(); }

private:
  struct TReread {
    ~TReread() { tzset(); }
  };
  TReread FRereadLast;  // destroyed after FEnv has restored the variable
  TEnvScope FEnv;
};

}  // namespace Orvane::Testing
