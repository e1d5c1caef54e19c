#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "OrvaneCore/Base/Exceptions.h"
#include "OrvaneCore/Time/DateTime.h"
#include "Support/TimeZoneScope.h"

namespace Orvane {
namespace {

using Testing::CCentralEurope;
using Testing::TTimeZoneScope;

TEST(DateTimeTest, TextRoundTripsEveryValueExactly) {
  for (TDateTime LValue :
       {46000.123456789012, 0.1, 1.0 / 3.0, EncodeDateTime(2026, 3, 29, 2, 30, 0, 1), CNoDateTime, 0.0, 1e-10,
        std::nextafter(46000.5, 0.0), std::nextafter(46000.5, 1e9), 2958465.9999999884}) {
    EXPECT_EQ(TextToDateTime(DateTimeToText(LValue)), LValue) << DateTimeToText(LValue);
  }
  EXPECT_THROW(TextToDateTime(""), EConvertError);
  EXPECT_THROW(TextToDateTime("12abc"), EConvertError);
  EXPECT_THROW(TextToDateTime("nan"), EConvertError);
}

TEST(DateTimeTest, LocalAndUtcFollowDaylightSavingChanges) {
  TTimeZoneScope LZone(CCentralEurope);
  // Winter: UTC+1; summer: UTC+2.
  EXPECT_NEAR(SecondsBetween(LocalToUtc(EncodeDateTime(2026, 1, 15, 12, 0, 0)),
                             EncodeDateTime(2026, 1, 15, 11, 0, 0)),
              0, 1e-3);
  EXPECT_NEAR(SecondsBetween(LocalToUtc(EncodeDateTime(2026, 7, 15, 12, 0, 0)),
                             EncodeDateTime(2026, 7, 15, 10, 0, 0)),
              0, 1e-3);
  // Around the spring change (2026-03-29 01:00 UTC) one real hour passes between 01:30 and 03:30 local.
  const TDateTime LBefore = LocalToUtc(EncodeDateTime(2026, 3, 29, 1, 30, 0));
  const TDateTime LAfter = LocalToUtc(EncodeDateTime(2026, 3, 29, 3, 30, 0));
  EXPECT_NEAR(SecondsBetween(LBefore, LAfter), 3600, 1e-3);
  // UtcToLocal inverts LocalToUtc away from the skipped hour, also in the repeated autumn hour's neighbours.
  for (TDateTime LLocal : {EncodeDateTime(2026, 3, 29, 1, 59, 0), EncodeDateTime(2026, 3, 29, 3, 0, 0),
                           EncodeDateTime(2026, 10, 25, 1, 0, 0), EncodeDateTime(2026, 10, 25, 3, 30, 0)}) {
    EXPECT_NEAR(SecondsBetween(UtcToLocal(LocalToUtc(LLocal)), LLocal), 0, 1e-3) << DateTimeToDisplay(LLocal);
  }
}

}  // namespace
}  // namespace Orvane
