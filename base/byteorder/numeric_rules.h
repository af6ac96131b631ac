/*
 * numeric_rules.h - the conversions between integers and floating values
 * that every member of the family shares.
 *
 * Floating-to-integer conversions are written out with explicit range tests:
 * the language leaves an out-of-range conversion undefined and hardware
 * disagrees about it, while these rules give every value, NaN and infinities
 * included, one defined result.
 */
#ifndef TKPIXMAP_BYTEORDER_NUMERIC_RULES_H
#define TKPIXMAP_BYTEORDER_NUMERIC_RULES_H

#include <cstdint>
#include <limits>
#include <type_traits>

namespace tkpixmap::byteorder::rules {

inline constexpr double kTwo31 = 2147483648.0;
inline constexpr double kTwo64 = 18446744073709551616.0;

/* Integer to floating, rounded to nearest with ties to even (the only
 * rounding mode the library runs under). */
template <class F, class I>
constexpr F to_floating(I value) {
  return static_cast<F>(value);
}

/* Floating to signed 32-bit: truncation toward zero, saturation at the
 * limits, NaN gives 0. */
constexpr std::int32_t to_int32(double x) {
  if (x != x) return 0;
  if (x >= kTwo31) return std::numeric_limits<std::int32_t>::max();
  if (x <= -kTwo31 - 1.0) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(x);
}

/* Floating to unsigned 32-bit: below 2^31 the signed rule's bit pattern
 * (so -1.5 gives 4294967295), from 2^31 up 2^31 plus the signed rule applied
 * to the excess (so 2^32 and more give 4294967295), NaN gives 0. */
constexpr std::uint32_t to_uint32(double x) {
  if (!(x >= kTwo31)) return static_cast<std::uint32_t>(to_int32(x));
  return 0x80000000u + static_cast<std::uint32_t>(to_int32(x - kTwo31));
}

/* Floating to unsigned 64-bit: negative values and NaN give 0, 2^64 and
 * more give 2^64-1, anything else is truncated toward zero. */
constexpr std::uint64_t to_uint64(double x) {
  if (!(x >= 0.0)) return 0;
  if (x >= kTwo64) return std::numeric_limits<std::uint64_t>::max();
  return static_cast<std::uint64_t>(x);
}

/* Floating to signed 64-bit: the unsigned rule applied to the magnitude,
 * negated for negative values, taken modulo 2^64.  Values from 2^63 up wrap
 * to negative numbers; -2^63 itself is exact. */
constexpr std::int64_t to_int64(double x) {
  std::uint64_t magnitude = x < 0.0 ? 0 - to_uint64(-x) : to_uint64(x);
  return static_cast<std::int64_t>(magnitude);
}

/* Floating to the integer type I by whichever of the four rules governs its
 * width and signedness.  Narrower destinations go through the 32-bit rules;
 * callers only hand them values that fit. */
template <class I>
constexpr I truncate_to(double x) {
  static_assert(std::is_integral_v<I>);
  if constexpr (sizeof(I) == 8) {
    if constexpr (std::is_unsigned_v<I>)
      return static_cast<I>(to_uint64(x));
    else
      return static_cast<I>(to_int64(x));
  } else if constexpr (std::is_unsigned_v<I>) {
    return static_cast<I>(to_uint32(x));
  } else {
    return static_cast<I>(to_int32(x));
  }
}

/* Double to float, rounded to nearest with ties to even; magnitudes that
 * round beyond the largest float become an infinity of the same sign, and a
 * NaN stays a NaN.  The overflow is decided here rather than left to the
 * conversion, which the language only defines for values in range. */
constexpr float to_float(double x) {
  /* 2^128 - 2^103: halfway between the largest float and 2^128; the tie
   * rounds to the even neighbour, which is 2^128, i.e. infinity. */
  constexpr double kOverflow = 340282356779733661637539395458142568448.0;
  constexpr float kInfinity = std::numeric_limits<float>::infinity();
  if (x >= kOverflow) return kInfinity;
  if (x <= -kOverflow) return -kInfinity;
  return static_cast<float>(x);
}

}  // namespace tkpixmap::byteorder::rules

#endif
