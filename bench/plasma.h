// plasma.h - the smooth field the suites' photo-like images are made from:
// a sum of slow waves with a little dither noise on top, like a photograph
// after palette reduction.
#pragma once

#include <stdint.h>

#include <cmath>
#include <vector>

namespace bench {

// Each pixel's level, rows top to bottom: the field (0 to 8 units, scaled
// by levelsPerUnit) plus dither noise spread over `grain` levels around
// it.  Not yet fitted to a palette: callers clamp or wrap.
inline std::vector<int> plasmaLevels(int width, int height, double levelsPerUnit, int grain) {
  std::vector<int> levels(size_t(width) * height);
  uint32_t noise = 12345;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      double v = std::sin(x * 0.013) + std::sin(y * 0.021) + std::sin((x + y) * 0.008) +
                 std::sin(std::sqrt(double(x) * x + double(y) * y) * 0.015);
      noise = noise * 1664525u + 1013904223u;
      int dither = int(uint64_t{noise} * unsigned(grain) >> 32) - grain / 2;
      levels[size_t(y) * width + x] = int((v + 4.0) * levelsPerUnit) + dither;
    }
  }
  return levels;
}

}  // namespace bench
