// cpu_features.h - the services' one answer to "may this processor run the
// AVX2 builds?", found once while the library is loaded.  The byte-order
// conversions and the line scanners both choose their builds by it.
#ifndef TKPIXMAP_BASE_CPU_FEATURES_H
#define TKPIXMAP_BASE_CPU_FEATURES_H

#if defined(__x86_64__) && defined(__GNUC__)
// Functions built with [[gnu::target("avx2")]] exist beside the baseline ones
// (x86-64 only: elsewhere there is nothing to choose).
#define TKPIXMAP_AVX2_BUILDS 1

namespace tkpixmap {

// Whether this processor runs AVX2 code.  Set by the library's initialisers
// and constant after, so any thread reads it without a guard, and choosing a
// build costs one load rather than a look at the processor's description per
// call.  A call made before those initialisers have run (from another
// library's) reads false and takes the baseline build: the same results,
// only slower.  An inline variable, so that every source of the library
// shares the one copy; its guard is a plain flag, not the C++ runtime's.
inline const bool processorHasAvx2 = [] {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") != 0;
}();

}  // namespace tkpixmap
#endif

#endif
