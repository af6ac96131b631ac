// gxline_bench.cc - lines per second of gxline against getline(3), both
// reading the same 256 MB file of ordinary text lines in the same run
// (getline both with the default stream buffer and with a larger one).
//
// The file is generated deterministically into /tmp when the benchmark
// starts and removed when it ends.  The ratio gxline / getline is printed
// after the table.

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "gxline.h"

namespace {

constexpr size_t kFileBytes = size_t{256} << 20;
std::string benchFile;
int64_t benchLines = 0;

// Words of a plain-text vocabulary, joined by blanks into lines of 20 to 100
// characters: the shape of logs, listings and command output.
void generateFile() {
  static const char *const words[] = {
      "the",     "interface", "address", "inet",   "mask",    "broadcast", "0x7f",
      "up",      "running",   "mtu",     "1500",   "packets", "errors",    "dropped",
      "overrun", "carrier",   "a",       "of",     "to",      "file",      "system",
      "mounted", "on",        "/usr",    "rw",     "nosuid",  "12345",     "lo",
      "eth0",    "collisions", "txqueuelen", "bytes", "RX",   "TX",        "link",
      "scope",   "host",      "global",  "and",    "read",    "write",     "line"};
  const size_t wordCount = sizeof words / sizeof words[0];
  char name[] = "/tmp/gxline_bench.XXXXXX";
  int fd = mkstemp(name);
  if (fd < 0) {
    perror("mkstemp");
    exit(1);
  }
  benchFile = name;
  FILE *out = fdopen(fd, "w");
  uint64_t state = 0x9e3779b97f4a7c15u;
  auto next = [&state] {
    state = state * 6364136223846793005u + 1442695040888963407u;
    return static_cast<uint32_t>(state >> 33);
  };
  size_t written = 0;
  std::string line;
  while (written < kFileBytes) {
    line.clear();
    size_t target = 20 + next() % 81;
    while (line.size() < target) {
      if (!line.empty()) line += ' ';
      line += words[next() % wordCount];
    }
    line += '\n';
    fwrite(line.data(), 1, line.size(), out);
    written += line.size();
    ++benchLines;
  }
  fclose(out);
}

void BM_gxline(benchmark::State &state) {
  char buffer[4096];
  int64_t lines = 0;
  for (auto _ : state) {
    int handle = gxopen(benchFile.c_str());
    if (handle < 0) {
      state.SkipWithError("gxopen failed");
      return;
    }
    int result;
    while ((result = gxline(handle, buffer, sizeof buffer)) != 0) {
      benchmark::DoNotOptimize(buffer);
      ++lines;
    }
    gxclose(handle);
  }
  state.SetItemsProcessed(lines);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kFileBytes));
}

// Every line through getline(3), the stream given a buffer of
// `streamBuffer` bytes, or left with its default when 0.
void readWithGetline(benchmark::State &state, size_t streamBuffer) {
  std::vector<char> streamSpace(streamBuffer);
  char *buffer = nullptr;
  size_t capacity = 0;
  int64_t lines = 0;
  for (auto _ : state) {
    FILE *in = fopen(benchFile.c_str(), "r");
    if (in == nullptr) {
      state.SkipWithError("fopen failed");
      return;
    }
    if (streamBuffer > 0) setvbuf(in, streamSpace.data(), _IOFBF, streamBuffer);
    ssize_t length;
    while ((length = getline(&buffer, &capacity, in)) >= 0) {
      benchmark::DoNotOptimize(buffer);
      ++lines;
    }
    fclose(in);
  }
  free(buffer);
  state.SetItemsProcessed(lines);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kFileBytes));
}

void BM_getline(benchmark::State &state) { readWithGetline(state, 0); }

// getline(3) with a stream buffer of 64 KiB instead of the default (the
// file system's block size, 4 KiB here), which saves it about a tenth of its
// time in fewer read(2) calls: the peer measured at its best as well.
void BM_getline_64KiB(benchmark::State &state) { readWithGetline(state, 64 * 1024); }

BENCHMARK(BM_gxline)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_getline)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_getline_64KiB)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// Keeps the lines-per-second figure of each benchmark to print the ratio:
// the median when repetitions are asked for, else the single run.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run> &runs) override {
    for (const Run &run : runs) {
      auto items = run.counters.find("items_per_second");
      bool usable = run.run_type == Run::RT_Iteration
                        ? medians.count(run.run_name.function_name) == 0
                        : run.aggregate_name == "median";
      if (items == run.counters.end() || !usable) continue;
      linesPerSecond[run.run_name.function_name] = items->second.value;
      if (run.run_type == Run::RT_Aggregate) medians.insert(run.run_name.function_name);
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> linesPerSecond;
  std::set<std::string> medians;
};

}  // namespace

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  generateFile();
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  unlink(benchFile.c_str());
  auto gx = reporter.linesPerSecond.find("BM_gxline");
  auto peer = reporter.linesPerSecond.find("BM_getline");
  if (gx != reporter.linesPerSecond.end() && peer != reporter.linesPerSecond.end() && peer->second > 0)
    printf("lines per second, gxline / getline(3): %.2f (%lld lines of %zu MB)\n",
           gx->second / peer->second, static_cast<long long>(benchLines), kFileBytes >> 20);
  auto bigPeer = reporter.linesPerSecond.find("BM_getline_64KiB");
  if (gx != reporter.linesPerSecond.end() && bigPeer != reporter.linesPerSecond.end() &&
      bigPeer->second > 0)
    printf("lines per second, gxline / getline(3) with a 64 KiB stream buffer: %.2f\n",
           gx->second / bigPeer->second);
  benchmark::Shutdown();
  return 0;
}
