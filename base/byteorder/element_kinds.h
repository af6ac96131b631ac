/*
 * element_kinds.h - the element templates from which every typed conversion
 * routine is made, and the two array loops (external to host, host to
 * external) that run them.
 *
 * A kind turns one source value into one destination value and says whether
 * the value changed on the way; the loops fetch and store the external side
 * byte-wise (no alignment needed), advance the caller's cursor by the whole
 * array and fold the per-element reports into the routine's result.
 */
#ifndef TKPIXMAP_BYTEORDER_ELEMENT_KINDS_H
#define TKPIXMAP_BYTEORDER_ELEMENT_KINDS_H

#include <cstddef>
#include <cstring>
#include <limits>
#include <type_traits>

#include "base/byteorder/layout.h"
#include "base/byteorder/numeric_rules.h"

namespace tkpixmap::byteorder {

enum class Kind : unsigned char {
  copy_or_rearrange, /* same type: block copy, or bytes rearranged per element */
  widen,             /* integer into a wider integer */
  saturate,          /* integer into a narrower integer, clamped */
  float_saturate,    /* floating into a narrower integer, clamped after a range test */
  to_float,          /* integer into floating, checked by converting back */
  to_integer,        /* floating into integer without a range test, checked back */
  narrow_float,      /* double into float, checked back */
  widen_float,       /* float into double, checked back */
};

enum class Direction : unsigned char { to_host, to_external };
enum class Signedness : unsigned char { plain, u };

/* The type letters and the C types they stand for, on either side. */
enum class Type : unsigned char { b, s, i, l, f, d };

template <Type type, Signedness sign>
struct TypeOf;
template <Signedness sign>
struct TypeOf<Type::b, sign> {
  using type = std::conditional_t<sign == Signedness::u, unsigned char, signed char>;
};
template <Signedness sign>
struct TypeOf<Type::s, sign> {
  using type = std::conditional_t<sign == Signedness::u, unsigned short, short>;
};
template <Signedness sign>
struct TypeOf<Type::i, sign> {
  using type = std::conditional_t<sign == Signedness::u, unsigned int, int>;
};
template <Signedness sign>
struct TypeOf<Type::l, sign> {
  using type = std::conditional_t<sign == Signedness::u, unsigned long long, long long>;
};
template <Signedness sign>
struct TypeOf<Type::f, sign> {
  using type = float;
};
template <Signedness sign>
struct TypeOf<Type::d, sign> {
  using type = double;
};

template <Type type, Signedness sign>
using CType = typename TypeOf<type, sign>::type;

static_assert(sizeof(short) == 2 && sizeof(int) == 4 && sizeof(long long) == 8);

template <class Dst>
struct Converted {
  Dst value;
  bool changed;
};

/* One element of the given kind, from Src to Dst. */
template <Kind kind, class Dst, class Src>
inline Converted<Dst> convert_element(Src x) {
  if constexpr (kind == Kind::copy_or_rearrange) {
    static_assert(std::is_same_v<Src, Dst>);
    /* Reassembling a floating value is checked like any conversion: a NaN
     * compares unequal to itself and is reported. */
    if constexpr (std::is_floating_point_v<Src>)
      return {x, x != x};
    else
      return {x, false};
  } else if constexpr (kind == Kind::widen) {
    static_assert(sizeof(Dst) > sizeof(Src) && std::is_unsigned_v<Dst> == std::is_unsigned_v<Src>);
    return {static_cast<Dst>(x), false};
  } else if constexpr (kind == Kind::saturate) {
    static_assert(sizeof(Dst) < sizeof(Src) && std::is_unsigned_v<Dst> == std::is_unsigned_v<Src>);
    constexpr Src lo = std::numeric_limits<Dst>::min(), hi = std::numeric_limits<Dst>::max();
    bool below = x < lo, above = x > hi;
    Src clamped = below ? lo : above ? hi : x;
    return {static_cast<Dst>(clamped), below || above};
  } else if constexpr (kind == Kind::float_saturate) {
    static_assert(std::is_floating_point_v<Src> && std::is_integral_v<Dst>);
    /* The limits as the source's floating type sees them: for an unsigned
     * 32-bit destination the single-precision maximum is 2^32, not 2^32-1. */
    constexpr Dst lo = std::numeric_limits<Dst>::min(), hi = std::numeric_limits<Dst>::max();
    constexpr Src lo_f = rules::to_floating<Src>(lo), hi_f = rules::to_floating<Src>(hi);
    bool below = x < lo_f, above = x > hi_f;
    if constexpr (std::numeric_limits<Dst>::digits <= std::numeric_limits<Src>::digits) {
      /* Both limits are exact in Src: clamping first leaves a value whose
       * truncation is the rule's answer and always fits (a NaN becomes 0). */
      Src clamped = x < lo_f ? lo_f : x;
      clamped = clamped < hi_f ? clamped : hi_f;
      using Wide = std::conditional_t<(sizeof(Dst) < 4), std::int32_t, std::int64_t>;
      Dst value = static_cast<Dst>(static_cast<Wide>(clamped));
      return {x != x ? Dst(0) : value, below || above};
    } else {
      Dst in_range = rules::truncate_to<Dst>(x);
      return {below ? lo : above ? hi : in_range, below || above};
    }
  } else if constexpr (kind == Kind::to_float) {
    static_assert(std::is_integral_v<Src> && std::is_floating_point_v<Dst>);
    Dst y = rules::to_floating<Dst>(x);
    /* Bytes and shorts, and ints into double, are always exact. */
    constexpr bool exact = std::numeric_limits<Src>::digits <= std::numeric_limits<Dst>::digits;
    if constexpr (exact)
      return {y, false};
    else
      return {y, rules::truncate_to<Src>(y) != x};
  } else if constexpr (kind == Kind::to_integer) {
    static_assert(std::is_floating_point_v<Src> && std::is_integral_v<Dst>);
    Dst y = rules::truncate_to<Dst>(x);
    return {y, rules::to_floating<Src>(y) != x};
  } else if constexpr (kind == Kind::narrow_float) {
    static_assert(std::is_same_v<Src, double> && std::is_same_v<Dst, float>);
    float y = rules::to_float(x);
    return {y, static_cast<double>(y) != x};
  } else {
    static_assert(kind == Kind::widen_float);
    static_assert(std::is_same_v<Src, float> && std::is_same_v<Dst, double>);
    double y = x;
    return {y, rules::to_float(y) != x};
  }
}

/* Elements are converted in blocks, each in two passes over the same
 * source: first the reports, until one is found, then the values.  Kept
 * apart, the value pass has no reduction in it and compiles to vector code;
 * the report pass is skipped once anything has been reported.  The reports
 * come first so that a conversion onto its own source (same widths) still
 * reads every element before overwriting it. */
inline constexpr std::size_t kBlock = 512;

template <class Dst, class Fetch, class Put>
inline int convert_blocks(std::size_t count, Fetch fetch, Put put) {
  bool changed = false;
  for (std::size_t start = 0; start < count; start += kBlock) {
    std::size_t end = count - start < kBlock ? count : start + kBlock;
    if (!changed) {
      unsigned any = 0;
      for (std::size_t i = start; i < end; ++i) any |= fetch(i).changed;
      changed = any != 0;
    }
    for (std::size_t i = start; i < end; ++i) put(i, fetch(i).value);
  }
  return changed ? -1 : 0;
}

/* External values of `order` at *cursor into the host array `to`. */
template <Order order, class Ext, class Host, Kind kind>
inline int convert_to_host(unsigned char **cursor, Host *to, int n) {
  if (n <= 0) return 0;
  unsigned char *p = *cursor;
  std::size_t count = static_cast<std::size_t>(n);
  *cursor = p + count * sizeof(Ext);
  if constexpr (kind == Kind::copy_or_rearrange && kCopies<Ext>(order)) {
    std::memmove(to, p, count * sizeof(Ext));
    return 0;
  } else {
    return convert_blocks<Host>(
        count,
        [p](std::size_t i) { return convert_element<kind, Host>(load<order, Ext>(p + i * sizeof(Ext))); },
        [to](std::size_t i, Host value) { to[i] = value; });
  }
}

/* The host array `from` as external values of `order` at *cursor. */
template <Order order, class Ext, class Host, Kind kind>
inline int convert_to_external(const Host *from, unsigned char **cursor, int n) {
  if (n <= 0) return 0;
  unsigned char *p = *cursor;
  std::size_t count = static_cast<std::size_t>(n);
  *cursor = p + count * sizeof(Ext);
  if constexpr (kind == Kind::copy_or_rearrange && kCopies<Ext>(order)) {
    std::memmove(p, from, count * sizeof(Ext));
    return 0;
  } else {
    return convert_blocks<Ext>(
        count, [from](std::size_t i) { return convert_element<kind, Ext>(from[i]); },
        [p](std::size_t i, Ext value) { store<order, Ext>(value, p + i * sizeof(Ext)); });
  }
}

}  // namespace tkpixmap::byteorder

#endif
