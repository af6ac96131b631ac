// suite_main.cc - main() for the suites that define bench::registerSuite().

#include <benchmark/benchmark.h>

#include "bench/suite_main.h"

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  bench::registerSuite();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
