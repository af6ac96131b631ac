/*
 * byteorder_bench.cc - throughput of each kind of typed conversion on
 * 64 MiB arrays, next to memcpy of 64 MiB measured in the same run.
 *
 * Convention: the larger of a member's two arrays (host or external) is
 * 64 MiB, and the peer copies 64 MiB.  Each benchmark reports
 * `vs_memcpy`, memcpy's best time divided by the member's best time (1.0 =
 * as fast as memcpy, higher is faster), and bytes/s over the larger array.
 */
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "byteorder.h"

namespace {

constexpr std::size_t kBytes = std::size_t{64} << 20;

/* Runs `work` once per iteration, each time right after a 64 MiB memcpy
 * timed the same way, so that both see the same machine load; the
 * iteration time reported is the work's alone, and `vs_memcpy` compares the
 * best runs of each (the least disturbed by other load on the machine). */
template <class Work>
void measure(benchmark::State &state, Work work) {
  static std::vector<unsigned char> peer_from(kBytes, 1), peer_to(kBytes, 2);
  double work_best = 1e9, memcpy_best = 1e9;
  for (auto _ : state) {
    auto start = std::chrono::steady_clock::now();
    std::memcpy(peer_to.data(), peer_from.data(), kBytes);
    benchmark::DoNotOptimize(peer_to.data());
    benchmark::ClobberMemory();
    auto middle = std::chrono::steady_clock::now();
    work();
    benchmark::ClobberMemory();
    auto end = std::chrono::steady_clock::now();
    double seconds = std::chrono::duration<double>(end - middle).count();
    memcpy_best = std::min(memcpy_best, std::chrono::duration<double>(middle - start).count());
    work_best = std::min(work_best, seconds);
    state.SetIterationTime(seconds);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(kBytes));
  state.counters["vs_memcpy"] = memcpy_best / work_best;
}

void BM_memcpy(benchmark::State &state) {
  std::vector<unsigned char> from(kBytes, 1), to(kBytes, 2);
  measure(state, [&] {
    std::memcpy(to.data(), from.data(), kBytes);
    benchmark::DoNotOptimize(to.data());
  });
}
BENCHMARK(BM_memcpy)->Unit(benchmark::kMillisecond)->UseManualTime();

/* Host values spread over the type's range, with a sprinkling outside the
 * destination's range so that saturation and reports are exercised. */
template <class H>
std::vector<H> host_input(std::size_t count) {
  std::vector<H> values(count);
  std::uint64_t state = 0x9E3779B97F4A7C15ull;
  for (std::size_t i = 0; i < count; ++i) {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    std::uint64_t bits = state >> 11;
    if constexpr (std::is_floating_point_v<H>)
      values[i] = static_cast<H>((static_cast<double>(bits % 200000) - 100000.0) * 0.37);
    else
      values[i] = static_cast<H>(bits);
  }
  return values;
}

/* External images made by the matching host-to-external member. */
template <class H, class Writer>
std::vector<unsigned char> external_input(std::size_t count, std::size_t width, Writer write) {
  std::vector<H> host = host_input<H>(count);
  std::vector<unsigned char> bytes(count * width);
  unsigned char *cursor = bytes.data();
  write(host.data(), &cursor, static_cast<int>(count));
  return bytes;
}

template <class H>
void host_to_external(benchmark::State &state, int (*member)(const H *, unsigned char **, int),
                      std::size_t width, std::size_t offset = 0) {
  std::size_t count = kBytes / std::max(sizeof(H), width);
  std::vector<H> from = host_input<H>(count);
  std::vector<unsigned char> to(count * width + offset, 0);
  measure(state, [&] {
    unsigned char *cursor = to.data() + offset;
    benchmark::DoNotOptimize(member(from.data(), &cursor, static_cast<int>(count)));
  });
}

template <class H, class Writer>
void external_to_host(benchmark::State &state, int (*member)(unsigned char **, H *, int),
                      std::size_t width, Writer write) {
  std::size_t count = kBytes / std::max(sizeof(H), width);
  std::vector<unsigned char> from = external_input<H>(count, width, write);
  std::vector<H> to(count, H{});
  measure(state, [&] {
    unsigned char *cursor = from.data();
    benchmark::DoNotOptimize(member(&cursor, to.data(), static_cast<int>(count)));
  });
}

#define BENCH_TO_EXTERNAL(kind, member, host, width)                                     \
  void BM_##kind##_##member(benchmark::State &state) { host_to_external<host>(state, member, width); } \
  BENCHMARK(BM_##kind##_##member)->Unit(benchmark::kMillisecond)->UseManualTime();
#define BENCH_TO_HOST(kind, member, host, width, writer)                                 \
  void BM_##kind##_##member(benchmark::State &state) {                                   \
    external_to_host<host>(state, member, width, writer);                                \
  }                                                                                      \
  BENCHMARK(BM_##kind##_##member)->Unit(benchmark::kMillisecond)->UseManualTime();

/* copy */
BENCH_TO_EXTERNAL(copy, hi2ai, int, 4)
BENCH_TO_HOST(copy, ad2hd, double, 8, hd2ad)
/* rearrange (on a big-endian host these m members copy, and v rearranges) */
BENCH_TO_EXTERNAL(rearrange, hs2ms, short, 2)
BENCH_TO_EXTERNAL(rearrange, hi2mi, int, 4)
BENCH_TO_HOST(rearrange, mi2hi, int, 4, hi2mi)
BENCH_TO_EXTERNAL(rearrange, hl2ml, long long, 8)
BENCH_TO_EXTERNAL(rearrange_float, hd2md, double, 8)
BENCH_TO_HOST(rearrange_float, md2hd, double, 8, hd2md)
BENCH_TO_HOST(rearrange_float, mf2hf, float, 4, hf2mf)
/* widen */
BENCH_TO_HOST(widen, ms2hi, int, 2, hi2ms)
BENCH_TO_HOST(widen, mb2hl, long long, 1, hl2mb)
/* saturate */
BENCH_TO_EXTERNAL(saturate, hi2ms, int, 2)
BENCH_TO_EXTERNAL(saturate, uhl2mi, unsigned long long, 4)
/* float-saturate */
BENCH_TO_EXTERNAL(float_saturate, hd2ms, double, 2)
BENCH_TO_EXTERNAL(float_saturate, uhd2mi, double, 4)
BENCH_TO_EXTERNAL(float_saturate, hf2ab, float, 1)
/* to-float */
BENCH_TO_HOST(to_float, mi2hf, float, 4, hf2mi)
BENCH_TO_HOST(to_float, ms2hd, double, 2, hd2ms)
BENCH_TO_EXTERNAL(to_float, hl2md, long long, 8)
/* to-integer */
BENCH_TO_HOST(to_integer, mf2hi, int, 4, hi2mf)
BENCH_TO_HOST(to_integer, md2hl, long long, 8, hl2md)
BENCH_TO_EXTERNAL(to_integer, hd2ml, double, 8)
/* narrow-float, widen-float */
BENCH_TO_EXTERNAL(narrow_float, hd2mf, double, 4)
BENCH_TO_HOST(widen_float, mf2hd, double, 4, hd2mf)
/* the same kinds without byte rearrangement */
BENCH_TO_EXTERNAL(float_saturate, hd2as, double, 2)
BENCH_TO_HOST(to_integer, vf2hi, int, 4, hi2vf)

/* An odd external address costs nothing extra. */
void BM_rearrange_unaligned_hi2mi(benchmark::State &state) { host_to_external<int>(state, hi2mi, 4, 1); }
BENCHMARK(BM_rearrange_unaligned_hi2mi)->Unit(benchmark::kMillisecond)->UseManualTime();

}  // namespace

BENCHMARK_MAIN();
