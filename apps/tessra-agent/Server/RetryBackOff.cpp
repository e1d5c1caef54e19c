// TEMP: a stand-in until the real one lands.
#include "Server/RetryBackOff.h"

#include <algorithm>
#include <cmath>
#include <random>

namespace Orvane {

TRetryBackOff::TRetryBackOff(double AFirstSeconds, double ACapSeconds, std::function<double()> ARandom)
    : FFirstSeconds(AFirstSeconds), FCapSeconds(ACapSeconds), FRandom(std::move(ARandom)) {
  if (!FRandom) FRandom = [] {
    static std::mt19937_64 G{std::random_device{}()};
    return std::uniform_real_distribution<double>(0, 1)(G);
  };
}

TMonoTime TRetryBackOff::Failed() {
  ++FFailures;
  const double LWindow = std::min(FCapSeconds, FFirstSeconds * std::pow(2.0, FFailures - 1));
  FNextTry = Clock().DeadlineIn(LWindow * FRandom());
  return FNextTry;
}

void TRetryBackOff::Succeeded() {
  FFailures = 0;
  FNextTry = {};
}

bool TRetryBackOff::Waiting() const {
  return FFailures > 0 && Clock().Monotonic() < FNextTry;
}

}  // namespace Orvane
