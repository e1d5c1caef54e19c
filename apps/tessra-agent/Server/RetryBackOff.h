#pragma once

#include <cstdint>
#include <functional>

#include "OrvaneCore/Time/Clock.h"

namespace Orvane {

// Capped exponential back-off with full jitter: after the n-th failure in a row the next try waits
// a uniformly random time in [0, min(Cap, First * 2^(n-1))], so that a fleet that lost its server at
// the same moment does not come back at the same moment. A success starts over. Times are the
// clock's monotonic time.
//
// Threading: not thread-safe; its owner's lock guards it.
class TRetryBackOff {
public:
  // ARandom returns a number in [0, 1); the default draws from a generator seeded per process.
  TRetryBackOff(double AFirstSeconds, double ACapSeconds, std::function<double()> ARandom = {});

  // A try failed: the next may be made after the returned deadline.
  TMonoTime Failed();
  void Succeeded();
  // Whether a try now would fall inside the back-off window (a failure's wait is not over).
  bool Waiting() const;
  TMonoTime NextTry() const { return FNextTry; }
  int32_t Failures() const { return FFailures; }

private:
  double FFirstSeconds;
  double FCapSeconds;
  std::function<double()> FRandom;
  int32_t FFailures = 0;
  TMonoTime FNextTry{};
};

}  // namespace Orvane
