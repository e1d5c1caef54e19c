#pragma once

#include <gtest/gtest.h>

#include "OrvaneCore/Time/Clock.h"
#include "OrvaneCore/Time/DateTime.h"

namespace Orvane::Testing {

// Puts the process clock into manual mode for the life of a test; declare it as the fixture's
// first member so that it is restored last. Restoring while threads still sleep on the clock fails
// the test: such a thread outlived the objects it belongs to.
class TManualClockScope {
public:
  explicit TManualClockScope(TDateTime AStartLocal = EncodeDateTime(2026, 3, 2, 10, 0, 0)) {
    Clock().SetManual(AStartLocal);
  }
  ~TManualClockScope() {
    std::string LNames;
    for (const std::string& LName : Clock().SleeperNames()) LNames += " [" + LName + "]";
    if (!LNames.empty()) ADD_FAILURE() << "Clock restored while threads still sleep on it:" << LNames;
    Clock().SetReal();
  }
  TManualClockScope(const TManualClockScope&) = delete;
  TManualClockScope& operator=(const TManualClockScope&) = delete;
};

}  // namespace Orvane::Testing
