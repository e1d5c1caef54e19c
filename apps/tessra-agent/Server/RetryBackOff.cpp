#include "Server/RetryBackOff.h"

#include <algorithm>
#include <cmath>
#include <random>

namespace Orvane {

namespace {

// Each back-off draws from its own generator, so that owners under different locks share no state.
std::function<double()> DefaultRandom() {
  return [LGenerator = std::mt19937_64(std::random_device{}())]() mutable {
    return std::uniform_real_distribution<double>(0.0, 1.0)(LGenerator);
  };
}

}  // namespace

TRetryBackOff::TRetryBackOff(double AFirstSeconds, double ACapSeconds, std::function<double()> ARandom)
    : FFirstSeconds(std::max(0.0, AFirstSeconds)),
      FCapSeconds(std::max(0.0, ACapSeconds)),
      FRandom(ARandom ? std::move(ARandom) : DefaultRandom()) {}

TMonoTime TRetryBackOff::Failed() {
  if (FFailures < INT32_MAX) ++FFailures;
  // Past 2^62 every window is the cap anyway; the bound keeps the power finite.
  const double LWindow = std::min(FCapSeconds, FFirstSeconds * std::ldexp(1.0, std::min(FFailures - 1, 62)));
  const double LDraw = std::clamp(FRandom(), 0.0, 1.0);
  FNextTry = Clock().DeadlineIn(LDraw * LWindow);
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
