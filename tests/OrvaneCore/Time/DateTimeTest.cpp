#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "OrvaneCore/Base/Exceptions.h"
#include "OrvaneCore/Data/DataNode.h"
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
}

TEST(DateTimeTest, LocalAndUtcFollowDaylightSavingChanges) {
  TTimeZoneScope LZone(CCentralEurope);
  const auto At = [](int AMonth, int ADay, int AHour, int AMinute) {
    return EncodeDateTime(2026, AMonth, ADay, AHour, AMinute, 0);
  };
  // Winter: UTC+1; summer: UTC+2; the spring change (03-29 01:00 UTC) puts one real hour between
  // 01:30 and 03:30 local.
  EXPECT_NEAR(SecondsBetween(LocalToUtc(At(1, 15, 12, 0)), At(1, 15, 11, 0)), 0, 1e-3);
  EXPECT_NEAR(SecondsBetween(LocalToUtc(At(7, 15, 12, 0)), At(7, 15, 10, 0)), 0, 1e-3);
  EXPECT_NEAR(SecondsBetween(LocalToUtc(At(3, 29, 1, 30)), LocalToUtc(At(3, 29, 3, 30))), 3600, 1e-3);
  // UtcToLocal inverts LocalToUtc away from the skipped hour, also beside the repeated autumn hour.
  for (TDateTime LLocal : {At(3, 29, 1, 59), At(3, 29, 3, 0), At(10, 25, 1, 0), At(10, 25, 3, 30)})
    EXPECT_NEAR(SecondsBetween(UtcToLocal(LocalToUtc(LLocal)), LLocal), 0, 1e-3) << DateTimeToDisplay(LLocal);
}

// The quicker conversions of date and time members write and read exactly what DateTimeToText
// writes and TextToDateTime reads.
TEST(DataNodeTextTest, DateTimeToCharsWritesWhatDateTimeToTextWrites) {
  std::mt19937_64 LRandom(20260302);
  std::vector<double> LValues = {0.0, -0.0, 1.0, -1.0, 0.5, 1e-5, 46082.25, 46083.385763888888,
                                 9.9999999999999982, 99999.999999999985, 999999999999999.88, 1e15, 1e300,
                                 std::numeric_limits<double>::infinity(), std::nan(""),
                                 std::numeric_limits<double>::denorm_min()};
  for (int I = 0; I < 200000; ++I) {
    uint64_t LBits = LRandom();
    double LAny;
    std::memcpy(&LAny, &LBits, sizeof LAny);
    LValues.push_back(LAny);
    LValues.push_back(std::uniform_real_distribution<double>(-50000, 50000)(LRandom));
    LValues.push_back(std::ldexp(static_cast<double>(LRandom() >> 11), -static_cast<int>(LRandom() % 60)));
  }
  for (const double LValue : LValues) {
    char LText[32];
    const std::string LWritten(LText, DateTimeToChars(LValue, LText));
    ASSERT_EQ(LWritten, DateTimeToText(LValue)) << LValue;
  }
}

TEST(DataNodeTextTest, TextToDateTimeMemberReadsAndRefusesWhatTextToDateTimeDoes) {
  for (const std::string LText :
       {"-1", "46083.385763888888", "0", "-0", "007", "1e5", " 12", "+3.5", "0x1p3", "1.", ".5", "", "-",
        "12a", "1e999", "1e-999", "nan", "inf", "123456789012345678901234.5"}) {
    SCOPED_TRACE(LText);
    std::string LExpected;
    TDateTime LExpectedValue = 0;
    try {
      LExpectedValue = TextToDateTime(LText);
    } catch (const EConvertError& E) {
      LExpected = E.Message();
    }
    try {
      const TDateTime LValue = TextToDateTimeMember(LText.c_str(), LText.size());
      EXPECT_EQ(LExpected, "");
      EXPECT_EQ(std::memcmp(&LValue, &LExpectedValue, sizeof LValue), 0);
    } catch (const EConvertError& E) {
      EXPECT_EQ(E.Message(), LExpected);
    }
  }
}

}  // namespace
}  // namespace Orvane
