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

/* One element of the given kind, from Src to Dst: the value stored. */
template <Kind kind, class Dst, class Src>
inline Dst convert_value(Src x) {
  if constexpr (kind == Kind::copy_or_rearrange) {
    static_assert(std::is_same_v<Src, Dst>);
    return x;
  } else if constexpr (kind == Kind::widen) {
    static_assert(sizeof(Dst) > sizeof(Src) && std::is_unsigned_v<Dst> == std::is_unsigned_v<Src>);
    return static_cast<Dst>(x);
  } else if constexpr (kind == Kind::saturate) {
    static_assert(sizeof(Dst) < sizeof(Src) && std::is_unsigned_v<Dst> == std::is_unsigned_v<Src>);
    constexpr Src lo = std::numeric_limits<Dst>::min(), hi = std::numeric_limits<Dst>::max();
    Src clamped = x < lo ? lo : x > hi ? hi : x;
    return static_cast<Dst>(clamped);
  } else if constexpr (kind == Kind::float_saturate) {
    static_assert(std::is_floating_point_v<Src> && std::is_integral_v<Dst>);
    /* The limits as the source's floating type sees them: for an unsigned
     * 32-bit destination the single-precision maximum is 2^32, not 2^32-1. */
    constexpr Dst lo = std::numeric_limits<Dst>::min(), hi = std::numeric_limits<Dst>::max();
    constexpr Src lo_f = rules::to_floating<Src>(lo), hi_f = rules::to_floating<Src>(hi);
    if constexpr (std::numeric_limits<Dst>::digits <= std::numeric_limits<Src>::digits) {
      /* Both limits are exact in Src: clamping first leaves a value whose
       * truncation is the rule's answer and always fits (a NaN becomes 0). */
      if constexpr (std::is_same_v<Dst, unsigned int>) {
        /* Double into 0 .. 2^32-1: vector units convert only to signed
         * 32-bit integers, so the upper half of the range is converted less
         * 2^31 (exactly: Sterbenz) and the top bit put back.  A NaN fails
         * the lower clamp and becomes 0. */
        Src clamped = x > hi_f ? hi_f : x;
        clamped = clamped > lo_f ? clamped : lo_f;
        bool upper = clamped >= Src(rules::kTwo31);
        std::int32_t below = static_cast<std::int32_t>(upper ? Src(0) : clamped);
        std::int32_t above = static_cast<std::int32_t>(upper ? clamped - Src(rules::kTwo31) : Src(0));
        return upper ? 0x80000000u + static_cast<Dst>(above) : static_cast<Dst>(below);
      } else {
        Src clamped = x < lo_f ? lo_f : x;
        clamped = clamped < hi_f ? clamped : hi_f;
        using Wide = std::conditional_t<(sizeof(Dst) < 4), std::int32_t, std::int64_t>;
        Dst value = static_cast<Dst>(static_cast<Wide>(clamped));
        return x != x ? Dst(0) : value;
      }
    } else {
      Dst in_range = rules::truncate_to<Dst>(x);
      return x < lo_f ? lo : x > hi_f ? hi : in_range;
    }
  } else if constexpr (kind == Kind::to_float) {
    static_assert(std::is_integral_v<Src> && std::is_floating_point_v<Dst>);
    return rules::to_floating<Dst>(x);
  } else if constexpr (kind == Kind::to_integer) {
    static_assert(std::is_floating_point_v<Src> && std::is_integral_v<Dst>);
    return rules::truncate_to<Dst>(x);
  } else if constexpr (kind == Kind::narrow_float) {
    static_assert(std::is_same_v<Src, double> && std::is_same_v<Dst, float>);
    return rules::to_float(x);
  } else {
    static_assert(kind == Kind::widen_float);
    static_assert(std::is_same_v<Src, float> && std::is_same_v<Dst, double>);
    return static_cast<double>(x);
  }
}

/* Whether the element x, stored as y, changed value: the kind's report. */
template <Kind kind, class Src, class Dst>
inline bool changed(Src x, Dst y) {
  if constexpr (kind == Kind::copy_or_rearrange) {
    /* Reassembling a floating value is checked like any conversion: a NaN
     * compares unequal to itself and is reported. */
    if constexpr (std::is_floating_point_v<Src>)
      return y != x;
    else
      return false;
  } else if constexpr (kind == Kind::widen) {
    return false;
  } else if constexpr (kind == Kind::saturate) {
    constexpr Src lo = std::numeric_limits<Dst>::min(), hi = std::numeric_limits<Dst>::max();
    return (x < lo) | (x > hi);
  } else if constexpr (kind == Kind::float_saturate) {
    constexpr Src lo_f = rules::to_floating<Src>(std::numeric_limits<Dst>::min());
    constexpr Src hi_f = rules::to_floating<Src>(std::numeric_limits<Dst>::max());
    return (x < lo_f) | (x > hi_f);
  } else if constexpr (kind == Kind::to_float) {
    /* Bytes and shorts, and ints into double, are always exact. */
    if constexpr (std::numeric_limits<Src>::digits <= std::numeric_limits<Dst>::digits) {
      return false;
    } else if constexpr (sizeof(Src) == 4) {
      /* y is a rounded 32-bit integer: finite, and at most 2^31 (signed) or
       * 2^32 (unsigned), where the back conversion saturates.  Only those
       * limits need handling, which keeps this test in vector code. */
      constexpr Dst kHalf = Dst(2147483648.0);
      if constexpr (std::is_signed_v<Src>) {
        std::int32_t back = static_cast<std::int32_t>(y < kHalf ? y : Dst(0));
        return (y >= kHalf ? std::numeric_limits<std::int32_t>::max() : back) != x;
      } else {
        Dst top = y >= kHalf ? kHalf : Dst(0);
        Dst rest = y - top < kHalf ? y - top : Dst(0);
        std::uint32_t back = static_cast<std::uint32_t>(static_cast<std::int32_t>(rest)) +
                             (y >= kHalf ? 0x80000000u : 0u);
        return (y - top >= kHalf ? 0xFFFFFFFFu : back) != x;
      }
    } else {
      /* The same for 64-bit integers: y is at most 2^63 (signed, where the
       * back conversion wraps to -2^63) or 2^64 (unsigned, saturating). */
      constexpr Dst kHalf = Dst(9223372036854775808.0);
      if constexpr (std::is_signed_v<Src>) {
        std::int64_t back = static_cast<std::int64_t>(y < kHalf ? y : Dst(0));
        return (y >= kHalf ? std::numeric_limits<std::int64_t>::min() : back) != x;
      } else {
        Dst top = y >= kHalf ? kHalf : Dst(0);
        Dst rest = y - top < kHalf ? y - top : Dst(0);
        std::uint64_t back = static_cast<std::uint64_t>(static_cast<std::int64_t>(rest)) +
                             (y >= kHalf ? 0x8000000000000000ull : 0ull);
        return (y - top >= kHalf ? ~0ull : back) != x;
      }
    }
  } else if constexpr (kind == Kind::to_integer) {
    return rules::to_floating<Src>(y) != x;
  } else if constexpr (kind == Kind::narrow_float) {
    return static_cast<double>(y) != x;
  } else {
    /* Narrowing the stored double gives back every float but a NaN. */
    static_assert(kind == Kind::widen_float);
    return x != x;
  }
}

/* Quicker ways through a block of elements, each taken only when a test of
 * the whole block over its sources (a vector pass of integer operations on
 * the images) shows that every element lies where the quick way gives the
 * rule's own answer; any other block takes the element rules.  What is
 * stored and reported is the same either way. */
namespace shortcut {

template <class T>
inline std::uint64_t image_of(T value) {
  std::uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

/* Nonzero unless -2^53 <= x < 2^53 (x >= 0 && x < 2^53 unsigned): there
 * every 64-bit integer is a double, so a conversion to double is exact. */
template <class I>
inline std::uint64_t beyond_exact_doubles(I x) {
  std::uint64_t bits = static_cast<std::uint64_t>(x);
  if constexpr (std::is_signed_v<I>)
    return (bits + (std::uint64_t{1} << 53)) >> 54;
  else
    return bits >> 53;
}

/* Nonzero unless |x| < 2^bits: the exponent field is compared as an
 * integer, so NaNs and infinities (the largest field) count as beyond. */
template <unsigned bits>
inline std::uint64_t beyond_power_of_two(double x) {
  constexpr std::uint64_t kExponent = 1023 + bits;
  return (((image_of(x) >> 52) & 0x7FF) + (0x800 - kExponent)) >> 11;
}

/* Nonzero when the finite x (|x| < 2^63) has a fraction.  Below 2^52 the
 * magnitude is rounded to an integer by adding 2^52 (which drops the
 * fraction) and taking it off again (exactly), and compared image to image;
 * from 2^52 up every double is an integer. */
inline std::uint64_t fraction_bits(double x) {
  constexpr double kTwo52 = 4503599627370496.0;
  std::uint64_t magnitude_image = image_of(x) & 0x7FFFFFFFFFFFFFFFull;
  double magnitude;
  std::memcpy(&magnitude, &magnitude_image, sizeof magnitude);
  double rounded = (magnitude + kTwo52) - kTwo52;
  std::uint64_t below_two52 = 0 - (((magnitude_image >> 52) - (1023 + 52)) >> 63);
  return (image_of(rounded) ^ magnitude_image) & below_two52;
}

}  // namespace shortcut

/* Converts `length` elements, load(i) to store(i, value), and tells whether
 * any of them changed value (when `check`; stored(i) reads back what was
 * stored).  Each pass is a loop of its own so that it stays free of the
 * others' dependencies and vectorises where the target allows. */
template <Kind kind, class Dst, class Src, class Load, class Store, class Stored>
inline bool convert_block(Load load, Store store, Stored stored, std::size_t length, bool check) {
  if constexpr (kind == Kind::to_integer && std::is_same_v<Src, double> &&
                std::is_same_v<Dst, long long>) {
    /* Within +-2^63 the rule is plain truncation, and the stored integer
     * converts back to the source exactly unless the source had a fraction.
     * The range and fraction tests are one vector pass; the conversion is
     * one scalar instruction an element (a vector form built from 32-bit
     * halves measured slower), or a vector one within +-2^31. */
    std::uint64_t beyond = 0, beyond_int32 = 0, fractions = 0;
    for (std::size_t i = 0; i < length; ++i) {
      beyond |= shortcut::beyond_power_of_two<63>(load(i));
      beyond_int32 |= shortcut::beyond_power_of_two<31>(load(i));
      fractions |= shortcut::fraction_bits(load(i));
    }
    if (beyond_int32 == 0) {
      /* Vector units do have the conversion into 32-bit integers. */
      for (std::size_t i = 0; i < length; ++i) store(i, static_cast<std::int32_t>(load(i)));
      return check && fractions != 0;
    }
    if (beyond == 0) {
      for (std::size_t i = 0; i < length; ++i) store(i, static_cast<Dst>(load(i)));
      return check && fractions != 0;
    }
  }
  for (std::size_t i = 0; i < length; ++i) store(i, convert_value<kind, Dst>(load(i)));
  if (!check) return false;
  if constexpr (kind == Kind::to_float && std::is_same_v<Dst, double> && sizeof(Src) == 8) {
    /* Only a value beyond 2^53 can be rounded. */
    std::uint64_t beyond = 0;
    for (std::size_t i = 0; i < length; ++i) beyond |= shortcut::beyond_exact_doubles(load(i));
    if (beyond == 0) return false;
  }
  unsigned any = 0;
  for (std::size_t i = 0; i < length; ++i) any |= changed<kind>(load(i), stored(i));
  return any != 0;
}

/* The external image of a type is its host image with every byte reversed:
 * whole arrays are then moved by one vector byte reversal. */
template <Order order, class T>
inline constexpr bool kReversed = !kCopies<T>(order) && stream_byte_order(order) != std::endian::native;
template <Order order, class T>
inline constexpr bool kPlainlyReversed =
    kReversed<order, T> && (!kIsDouble<T> || double_image_is_integer_image(kNativeHost));

/* Elements are converted in blocks.  The external side of a block is staged
 * in a local array of images in host byte order, fetched or stored with one
 * memcpy, or with one vector byte reversal where the order needs it.  Each
 * block is then converted by convert_block: the values, then the reports
 * from each source and stored value, until one is found.  Every element of a
 * block is read before any is written, so a conversion onto its own source
 * (same widths) is safe. */
inline constexpr std::size_t kBlock = 512;

/* Asks for the next block's memory while this one is converted: the
 * processor's own prefetching only runs a little ahead of the loads it
 * sees, and while a block is converted in local storage it sees none, so
 * without this the memory traffic and the arithmetic take turns. */
template <bool for_writing>
inline void prefetch_bytes(const void *at, std::size_t bytes) {
  const unsigned char *base = static_cast<const unsigned char *>(at);
  for (std::size_t offset = 0; offset < bytes; offset += 64) __builtin_prefetch(base + offset, for_writing);
}

/* External values of `order` at *cursor into the host array `to`.
 * `byte_shuffles`: built for a target with 32-byte byte shuffles. */
template <Order order, class Ext, class Host, Kind kind, bool byte_shuffles = false>
inline int convert_to_host(unsigned char **cursor, Host *to, int n) {
  if (n <= 0) return 0;
  unsigned char *p = *cursor;
  std::size_t count = static_cast<std::size_t>(n);
  *cursor = p + count * sizeof(Ext);
  if constexpr (kind == Kind::copy_or_rearrange && kCopies<Ext>(order)) {
    std::memmove(to, p, count * sizeof(Ext));
    return 0;
  } else if constexpr (kind == Kind::copy_or_rearrange && kPlainlyReversed<order, Ext>) {
    return reverse_images<Ext, std::is_floating_point_v<Ext>, false>(p, to, count) ? -1 : 0;
  } else {
    ImageBits<Ext> staged[kBlock];
    bool reported = false;
    for (std::size_t start = 0; start < count; start += kBlock) {
      std::size_t length = count - start < kBlock ? count - start : kBlock;
      if constexpr (kReversed<order, Ext> && byte_shuffles)
        reverse_images_by_byte_shuffle<Ext>(p + start * sizeof(Ext), staged, length);
      else if constexpr (kReversed<order, Ext>)
        reverse_images<Ext>(p + start * sizeof(Ext), staged, length);
      else
        std::memcpy(staged, p + start * sizeof(Ext), length * sizeof(Ext));
      if (count - start > kBlock) {
        std::size_t next = count - start - kBlock < kBlock ? count - start - kBlock : kBlock;
        prefetch_bytes<false>(p + (start + kBlock) * sizeof(Ext), next * sizeof(Ext));
        prefetch_bytes<true>(to + start + kBlock, next * sizeof(Host));
      }
      Host *out = to + start;
      reported |= convert_block<kind, Host, Ext>(
          [&](std::size_t i) { return from_image_bits<Ext>(staged[i]); },
          [&](std::size_t i, Host value) { out[i] = value; }, [&](std::size_t i) { return out[i]; },
          length, !reported);
    }
    return reported ? -1 : 0;
  }
}

/* The host array `from` as external values of `order` at *cursor. */
template <Order order, class Ext, class Host, Kind kind, bool byte_shuffles = false>
inline int convert_to_external(const Host *from, unsigned char **cursor, int n) {
  if (n <= 0) return 0;
  unsigned char *p = *cursor;
  std::size_t count = static_cast<std::size_t>(n);
  *cursor = p + count * sizeof(Ext);
  if constexpr (kind == Kind::copy_or_rearrange && kCopies<Ext>(order)) {
    std::memmove(p, from, count * sizeof(Ext));
    return 0;
  } else if constexpr (kind == Kind::copy_or_rearrange && kPlainlyReversed<order, Ext>) {
    return reverse_images<Ext, std::is_floating_point_v<Ext>, true>(from, p, count) ? -1 : 0;
  } else {
    ImageBits<Ext> staged[kBlock];
    bool reported = false;
    for (std::size_t start = 0; start < count; start += kBlock) {
      std::size_t length = count - start < kBlock ? count - start : kBlock;
      if (count - start > kBlock) {
        std::size_t next = count - start - kBlock < kBlock ? count - start - kBlock : kBlock;
        prefetch_bytes<false>(from + start + kBlock, next * sizeof(Host));
        prefetch_bytes<true>(p + (start + kBlock) * sizeof(Ext), next * sizeof(Ext));
      }
      const Host *in = from + start;
      reported |= convert_block<kind, Ext, Host>(
          [&](std::size_t i) { return in[i]; },
          [&](std::size_t i, Ext value) { staged[i] = to_image_bits<Ext>(value); },
          [&](std::size_t i) { return from_image_bits<Ext>(staged[i]); }, length, !reported);
      if constexpr (kReversed<order, Ext> && byte_shuffles)
        reverse_images_by_byte_shuffle<Ext>(staged, p + start * sizeof(Ext), length);
      else if constexpr (kReversed<order, Ext>)
        reverse_images<Ext>(staged, p + start * sizeof(Ext), length);
      else
        std::memcpy(p + start * sizeof(Ext), staged, length * sizeof(Ext));
    }
    return reported ? -1 : 0;
  }
}

}  // namespace tkpixmap::byteorder

#endif
