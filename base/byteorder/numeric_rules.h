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
#include <cstring>
#include <limits>
#include <type_traits>

namespace tkpixmap::byteorder::rules {

inline constexpr double kTwo31 = 2147483648.0;
inline constexpr double kTwo63 = 9223372036854775808.0;
inline constexpr double kTwo64 = 18446744073709551616.0;

/* A 64-bit integer to double, rounded to nearest with ties to even, in
 * operations every vector unit has (few have a 64-bit integer conversion):
 * the two 32-bit halves become exact doubles by placing them in the
 * fraction of a constant (2^84 + hi * 2^32 and 2^52 + lo), the constants
 * come off exactly, and the one addition at the end does the only rounding.
 * A signed high half is first offset by 2^31 into an unsigned one, which a
 * further 2^63 in the constant takes back. */
template <class I>
inline double to_double_by_halves(I value) {
  static_assert(std::is_integral_v<I> && sizeof(I) == 8);
  constexpr std::uint64_t kHighImage = 0x4530000000000000ull; /* 2^84 */
  constexpr std::uint64_t kLowImage = 0x4330000000000000ull;  /* 2^52 */
  constexpr double kHighBias = std::is_signed_v<I> ? 0x1.00000801p84  /* 2^84 + 2^63 + 2^52 */
                                                   : 0x1.00000001p84; /* 2^84 + 2^52 */
  std::uint64_t bits = static_cast<std::uint64_t>(value);
  std::uint64_t high = bits >> 32;
  if constexpr (std::is_signed_v<I>) high ^= 0x80000000u;
  std::uint64_t high_image = high | kHighImage, low_image = (bits & 0xFFFFFFFFu) | kLowImage;
  double high_part, low_part;
  std::memcpy(&high_part, &high_image, sizeof high_part);
  std::memcpy(&low_part, &low_image, sizeof low_part);
  return (high_part - kHighBias) + low_part;
}

/* Integer to floating, rounded to nearest with ties to even (the only
 * rounding mode the library runs under). */
template <class F, class I>
constexpr F to_floating(I value) {
  if constexpr (std::is_same_v<F, double> && sizeof(I) == 8) {
    if (!std::is_constant_evaluated()) return to_double_by_halves(value);
  }
  return static_cast<F>(value);
}

/* The rules are written as selections between values that are all computed,
 * never as early returns, and every cast sees only a value it can hold.  The
 * clamps have the shapes `x < k ? k : x` and `x < k ? x : k`, which compile to
 * single IEEE max/min instructions, so the loops over arrays run without
 * branches (and vectorise where the target allows). */

/* Largest value of F below 2^31. */
template <class F>
inline constexpr F kBelowTwo31 = std::is_same_v<F, float> ? F(2147483520.0) : F(2147483647.0);

/* Floating (float or double) to signed 32-bit: truncation toward zero,
 * saturation at the limits, NaN gives 0. */
template <class F>
constexpr std::int32_t to_int32(F x) {
  constexpr F kLow = static_cast<F>(-kTwo31), kHigh = static_cast<F>(kTwo31);
  /* Everything at or below -2^31 truncates to -2^31; a NaN passes the
   * first clamp and is caught by the second. */
  F clamped = x < kLow ? kLow : x;
  clamped = clamped < kBelowTwo31<F> ? clamped : kBelowTwo31<F>;
  std::int32_t value = static_cast<std::int32_t>(clamped);
  value = x >= kHigh ? std::numeric_limits<std::int32_t>::max() : value;
  return x != x ? 0 : value;
}

/* Floating to unsigned 32-bit: below 2^31 the signed rule's bit pattern
 * (so -1.5 gives 4294967295), from 2^31 up 2^31 plus the signed rule applied
 * to the excess (so 2^32 and more give 4294967295), NaN gives 0.  The excess
 * x - 2^31 is exact wherever it matters (Sterbenz) and saturates elsewhere. */
template <class F>
constexpr std::uint32_t to_uint32(F x) {
  constexpr F kHalf = static_cast<F>(kTwo31);
  std::uint32_t low = static_cast<std::uint32_t>(to_int32(x));
  std::uint32_t high = 0x80000000u + static_cast<std::uint32_t>(to_int32(x - kHalf));
  return x >= kHalf ? high : low;
}

/* Floating to unsigned 64-bit: negative values and NaN give 0, 2^64 and
 * more give 2^64-1, anything else is truncated toward zero.  Few targets
 * convert 64-bit integers in vector registers, so these two are written for
 * scalar code: the common range first, through the signed conversion every
 * target has. */
constexpr std::uint64_t to_uint64(double x) {
  if (x >= 0.0 && x < kTwo63) [[likely]]
    return static_cast<std::uint64_t>(static_cast<std::int64_t>(x));
  if (x >= kTwo63 && x < kTwo64)
    return static_cast<std::uint64_t>(static_cast<std::int64_t>(x - kTwo63)) + 0x8000000000000000ull;
  return x >= kTwo64 ? std::numeric_limits<std::uint64_t>::max() : 0;
}

/* Floating to signed 64-bit: the unsigned rule applied to the magnitude,
 * negated for negative values, taken modulo 2^64.  Values from 2^63 up wrap
 * to negative numbers; -2^63 itself is exact. */
constexpr std::int64_t to_int64(double x) {
  if (x > -kTwo63 && x < kTwo63) [[likely]]
    return static_cast<std::int64_t>(x);
  std::uint64_t magnitude = x < 0.0 ? 0 - to_uint64(-x) : to_uint64(x);
  return static_cast<std::int64_t>(magnitude);
}

/* Floating to the integer type I by whichever of the four rules governs its
 * width and signedness.  Narrower destinations go through the 32-bit rules;
 * callers only hand them values that fit.  A float is widened to double for
 * the 64-bit rules. */
template <class I, class F>
constexpr I truncate_to(F x) {
  static_assert(std::is_integral_v<I> && std::is_floating_point_v<F>);
  if constexpr (sizeof(I) == 8) {
    if constexpr (std::is_unsigned_v<I>)
      return static_cast<I>(to_uint64(static_cast<double>(x)));
    else
      return static_cast<I>(to_int64(static_cast<double>(x)));
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
   * rounds to the even neighbour, which is 2^128, i.e. infinity.  Below it
   * everything beyond the largest float rounds to the largest float, so the
   * conversion only ever sees a value within the float range (or a NaN,
   * which both clamps pass through). */
  constexpr double kOverflow = 340282356779733661637539395458142568448.0;
  constexpr double kLargest = std::numeric_limits<float>::max();
  constexpr float kInfinity = std::numeric_limits<float>::infinity();
  double clamped = x > kLargest ? kLargest : x;
  clamped = clamped < -kLargest ? -kLargest : clamped;
  float value = static_cast<float>(clamped);
  value = x >= kOverflow ? kInfinity : value;
  return x <= -kOverflow ? -kInfinity : value;
}

}  // namespace tkpixmap::byteorder::rules

#endif
