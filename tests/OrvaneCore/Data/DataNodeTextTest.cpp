#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "OrvaneCore/Base/Exceptions.h"
#include "OrvaneCore/Data/DataNode.h"

// The quicker conversions of date and time members write and read exactly what DateTimeToText
// writes and TextToDateTime reads.
namespace Orvane {
namespace {

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
  for (const std::string LText : {"-1", "46083.385763888888", "0", "-0", "007", "1e5", " 12", "+3.5", "0x1p3",
                                  "1.", ".5", "", "-", "12a", "1e999", "1e-999", "nan", "inf",
                                  "123456789012345678901234.5"}) {
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
