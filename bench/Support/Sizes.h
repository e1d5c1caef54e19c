#pragma once
// The sizes the scaling benchmarks run at, with the complexity fitted over them.
#include <benchmark/benchmark.h>

namespace Orvane::Bench {

inline void HundredToTenThousand(benchmark::internal::Benchmark* ABenchmark) {
  ABenchmark->Arg(100)->Arg(1000)->Arg(10000)->Complexity();
}

}  // namespace Orvane::Bench
