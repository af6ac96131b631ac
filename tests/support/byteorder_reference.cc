/*
 * byteorder_reference.cc - the reference model of the conversion rules (see
 * byteorder_reference.h).  Written from the rules, in exact arithmetic.
 */
#include "tests/support/byteorder_reference.h"

#include <array>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <stdexcept>

namespace tkpixmap::test::byteorder_reference {
namespace {

struct Format {
  int precision; /* significant bits, hidden bit included */
  int emin;      /* exponent of the smallest normal value */
  int emax;      /* exponent of the largest finite value */
  int exponent_bits;
};

Format format_of(char format) {
  if (format == 'f') return {24, -126, 127, 8};
  if (format == 'd') return {53, -1022, 1023, 11};
  throw std::logic_error("no such floating format");
}

Real make_finite(bool negative, std::uint64_t mantissa, int exponent) {
  Real r;
  r.negative = negative;
  if (mantissa == 0) return r;
  int lz = std::countl_zero(mantissa);
  r.mantissa = mantissa << lz;
  r.exponent = exponent - lz;
  return r;
}

/* Position of the leading bit: the value lies in [2^E, 2^(E+1)). */
int leading_exponent(const Real &x) { return x.exponent + 63; }

/* Memory offset of the byte of significance k (0 = most significant) in
 * the host image of a value, found by storing a value whose bytes all
 * differ and looking where each one went. */
struct HostLayout {
  std::array<unsigned, 8> integer1{}, integer2{}, integer4{}, integer8{}, single{}, dbl{};

  HostLayout() {
    std::uint16_t u2 = 0x0102;
    std::uint32_t u4 = 0x01020304u;
    std::uint64_t u8 = 0x0102030405060708ull;
    find(&u2, 2, 0x0102, integer2);
    find(&u4, 4, 0x01020304u, integer4);
    find(&u8, 8, 0x0102030405060708ull, integer8);
    const std::uint64_t float_image = 0x3F912233u, double_image = 0x3FF1223344556677ull;
    float f = static_cast<float>(std::ldexp(static_cast<double>((float_image & 0x7FFFFF) | 0x800000),
                                            0x7F - 127 - 23));
    double d = std::ldexp(static_cast<double>((double_image & 0xFFFFFFFFFFFFFull) | (1ull << 52)),
                          0x3FF - 1023 - 52);
    find(&f, 4, float_image, single);
    find(&d, 8, double_image, dbl);
  }

  static void find(const void *object, unsigned width, std::uint64_t image,
                   std::array<unsigned, 8> &where) {
    unsigned char bytes[8];
    std::memcpy(bytes, object, width);
    for (unsigned k = 0; k < width; ++k) {
      unsigned char wanted = static_cast<unsigned char>(image >> (8 * (width - 1 - k)));
      bool found = false;
      for (unsigned at = 0; at < width; ++at)
        if (bytes[at] == wanted) where[k] = at, found = true;
      if (!found) throw std::logic_error("host layout probe failed");
    }
  }

  const std::array<unsigned, 8> &of(Type type) const {
    switch (type.letter) {
      case 's': return integer2;
      case 'i': return integer4;
      case 'f': return single;
      case 'd': return dbl;
      case 'l': return integer8;
      default: return integer1; /* one byte: offset 0 */
    }
  }
};

const HostLayout &host_layout() {
  static const HostLayout layout;
  return layout;
}

/* Places the image (most significant byte first in `image`) in memory. */
void place(std::uint64_t image, Type type, char order, unsigned char *bytes) {
  unsigned w = type.width();
  for (unsigned k = 0; k < w; ++k) {
    unsigned char byte = static_cast<unsigned char>(image >> (8 * (w - 1 - k)));
    unsigned at = order == 'm' ? k : order == 'v' ? w - 1 - k : host_layout().of(type)[k];
    bytes[at] = byte;
  }
}

std::uint64_t gather(const unsigned char *bytes, Type type, char order) {
  unsigned w = type.width();
  std::uint64_t image = 0;
  for (unsigned k = 0; k < w; ++k) {
    unsigned at = order == 'm' ? k : order == 'v' ? w - 1 - k : host_layout().of(type)[k];
    image = image << 8 | bytes[at];
  }
  return image;
}

/* Truncation toward zero into a wide integer: sign, magnitude, and whether
 * the magnitude reaches 2^64. */
struct Wide {
  bool negative;
  std::uint64_t magnitude;
  bool huge;
};

Wide truncate(const Real &x) {
  if (x.cls != Real::finite) throw std::logic_error("truncate of a non-finite value");
  if (x.mantissa == 0) return {x.negative, 0, false};
  int e = leading_exponent(x);
  if (e >= 64) return {x.negative, 0, true};
  if (e < 0) return {x.negative, 0, false};
  return {x.negative, x.mantissa >> (63 - e), false};
}

/* The four floating-to-integer rules; results are two's complement images
 * of the destination width (32 or 64 bits). */
std::int64_t rule_int32(const Real &x) {
  if (x.is_nan()) return 0;
  if (compare(x, from_int64(2147483647)) >= 0) return 2147483647;
  if (compare(x, from_int64(-2147483647 - 1)) <= 0) return -2147483647 - 1;
  Wide w = truncate(x);
  return w.negative ? -static_cast<std::int64_t>(w.magnitude) : static_cast<std::int64_t>(w.magnitude);
}

std::uint64_t rule_uint32(const Real &x) {
  if (x.is_nan()) return 0;
  if (compare(x, power_of_two(31)) < 0) return static_cast<std::uint32_t>(rule_int32(x));
  /* 2^31 + rule_int32(x - 2^31): x - 2^31 truncates to trunc(x) - 2^31,
   * which the signed rule caps at 2^31 - 1. */
  if (x.cls == Real::infinite) return 0xFFFFFFFFull;
  Wide w = truncate(x);
  if (w.huge || w.magnitude >= 0xFFFFFFFFull) return 0xFFFFFFFFull;
  return w.magnitude;
}

std::uint64_t rule_uint64(const Real &x) {
  if (x.is_nan() || compare(x, integer(false, 0)) < 0) return 0;
  if (x.cls == Real::infinite) return ~0ull;
  Wide w = truncate(x);
  return w.huge ? ~0ull : w.magnitude;
}

std::uint64_t rule_int64(const Real &x) {
  if (!x.is_nan() && compare(x, integer(false, 0)) < 0) {
    Real magnitude = x;
    magnitude.negative = false;
    return 0 - rule_uint64(magnitude);
  }
  return rule_uint64(x);
}

/* The integer of type `type` that the rules give for x, as a value. */
Real to_integer_type(const Real &x, Type type) {
  std::uint64_t image;
  if (type.width() == 8)
    image = type.is_unsigned ? rule_uint64(x) : rule_int64(x);
  else
    image = type.is_unsigned ? rule_uint32(x) : static_cast<std::uint64_t>(rule_int32(x));
  /* Reduce to the destination's width and read it back with its sign. */
  unsigned bits = 8 * type.width();
  if (bits < 64) image &= (1ull << bits) - 1;
  if (!type.is_unsigned && bits < 64 && (image >> (bits - 1)) & 1) image |= ~0ull << bits;
  return type.is_unsigned ? from_uint64(image) : from_int64(static_cast<std::int64_t>(image));
}

bool is_zero(const Real &x) { return x.cls == Real::finite && x.mantissa == 0; }

/* A finite value without a fractional part (and not -0). */
bool is_integer(const Real &x) {
  if (x.cls != Real::finite) return false;
  if (is_zero(x)) return !x.negative;
  int e = leading_exponent(x);
  if (e < 0) return false;
  return e >= 63 || (x.mantissa << (e + 1)) == 0;
}

}  // namespace

std::string Real::describe() const {
  char text[96];
  if (cls == nan)
    std::snprintf(text, sizeof text, "NaN(%c %#llx)", nan_format ? nan_format : '?',
                  static_cast<unsigned long long>(nan_bits));
  else if (cls == infinite)
    std::snprintf(text, sizeof text, "%sinf", negative ? "-" : "+");
  else
    std::snprintf(text, sizeof text, "%s%#llx*2^%d (%.17g)", negative ? "-" : "+",
                  static_cast<unsigned long long>(mantissa), exponent,
                  (negative ? -1.0 : 1.0) * std::ldexp(static_cast<double>(mantissa), exponent));
  return text;
}

Real integer(bool negative, std::uint64_t magnitude) { return make_finite(negative, magnitude, 0); }

Real from_int64(std::int64_t v) {
  std::uint64_t magnitude = v < 0 ? 0 - static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v);
  return integer(v < 0, magnitude);
}

Real from_uint64(std::uint64_t v) { return integer(false, v); }

Real power_of_two(int e, bool negative) { return make_finite(negative, 1, e); }

Real infinity(bool negative) {
  Real r;
  r.cls = Real::infinite;
  r.negative = negative;
  return r;
}

Real nan_from_bits(std::uint64_t bits, char format) {
  Real r;
  r.cls = Real::nan;
  r.nan_bits = bits;
  r.nan_format = format;
  r.negative = (bits >> (format == 'f' ? 31 : 63)) & 1;
  return r;
}

Real from_double(double d) {
  if (std::isnan(d)) {
    unsigned char bytes[8];
    std::memcpy(bytes, &d, 8);
    return nan_from_bits(gather(bytes, Type{'d', false}, 'h'), 'd');
  }
  if (std::isinf(d)) return infinity(d < 0);
  if (d == 0) return make_finite(std::signbit(d), 0, 0);
  int e;
  double fraction = std::frexp(std::fabs(d), &e); /* in [0.5, 1) */
  auto mantissa = static_cast<std::uint64_t>(std::ldexp(fraction, 64));
  return make_finite(d < 0, mantissa, e - 64);
}

Real from_float(float f) {
  if (std::isnan(f)) {
    unsigned char bytes[4];
    std::memcpy(bytes, &f, 4);
    return nan_from_bits(gather(bytes, Type{'f', false}, 'h'), 'f');
  }
  return from_double(static_cast<double>(f));
}

int compare(const Real &a, const Real &b) {
  if (a.is_nan() || b.is_nan()) return 2;
  auto sign = [](const Real &x) { return is_zero(x) ? 0 : x.negative ? -1 : 1; };
  int sa = sign(a), sb = sign(b);
  if (sa != sb) return sa < sb ? -1 : 1;
  if (sa == 0) return 0;
  int magnitude; /* of |a| against |b| */
  if (a.cls == Real::infinite || b.cls == Real::infinite) {
    magnitude = (a.cls == Real::infinite) - (b.cls == Real::infinite);
  } else if (a.exponent != b.exponent) {
    magnitude = a.exponent < b.exponent ? -1 : 1;
  } else {
    magnitude = a.mantissa < b.mantissa ? -1 : a.mantissa > b.mantissa ? 1 : 0;
  }
  return sa * magnitude;
}

bool identical(const Real &a, const Real &b) {
  if (a.cls != b.cls) return false;
  if (a.is_nan()) return !a.nan_format || !b.nan_format || (a.nan_bits == b.nan_bits && a.nan_format == b.nan_format);
  return a.negative == b.negative && a.mantissa == b.mantissa &&
         (a.mantissa == 0 || a.exponent == b.exponent);
}

Real round_to(const Real &x, char format) {
  Format f = format_of(format);
  if (x.is_nan()) {
    if (x.nan_format == format) return x;
    Real r = x;
    r.nan_format = 0; /* some NaN, image not known */
    return r;
  }
  if (x.cls == Real::infinite || is_zero(x)) return x;
  int e = leading_exponent(x);
  int quantum = std::max(e, f.emin) - (f.precision - 1); /* exponent of one unit in the last place */
  int shift = quantum - x.exponent;                       /* mantissa bits that do not fit */
  Real r = x;
  if (shift > 0) {
    std::uint64_t kept, remainder, half;
    if (shift >= 65) {
      kept = 0, remainder = 1, half = 2; /* far below half a unit */
    } else if (shift == 64) {
      kept = 0, remainder = x.mantissa, half = 1ull << 63;
    } else {
      kept = x.mantissa >> shift;
      remainder = x.mantissa & ((1ull << shift) - 1);
      half = 1ull << (shift - 1);
    }
    if (remainder > half || (remainder == half && (kept & 1))) ++kept;
    r = make_finite(x.negative, kept, quantum);
  }
  if (!is_zero(r) && leading_exponent(r) > f.emax) return infinity(x.negative);
  return r;
}

bool representable(const Real &x, char format) {
  if (x.is_nan()) return x.nan_format == format;
  return identical(round_to(x, format), x);
}

std::uint64_t ieee_bits(const Real &x, char format) {
  Format f = format_of(format);
  int fraction_bits = f.precision - 1;
  std::uint64_t sign = static_cast<std::uint64_t>(x.negative) << (fraction_bits + f.exponent_bits);
  std::uint64_t all_ones = (1ull << f.exponent_bits) - 1;
  if (x.is_nan()) {
    if (x.nan_format == format) return x.nan_bits;
    return sign | all_ones << fraction_bits | 1ull << (fraction_bits - 1);
  }
  if (x.cls == Real::infinite) return sign | all_ones << fraction_bits;
  if (is_zero(x)) return sign;
  if (!representable(x, format)) throw std::logic_error("image of an unrepresentable value");
  int e = leading_exponent(x);
  std::uint64_t fraction_mask = (1ull << fraction_bits) - 1;
  if (e >= f.emin) {
    std::uint64_t field = static_cast<std::uint64_t>(e + f.emax);
    return sign | field << fraction_bits | ((x.mantissa >> (63 - fraction_bits)) & fraction_mask);
  }
  return sign | x.mantissa >> (63 - fraction_bits + (f.emin - e));
}

Real from_ieee_bits(std::uint64_t bits, char format) {
  Format f = format_of(format);
  int fraction_bits = f.precision - 1;
  bool negative = (bits >> (fraction_bits + f.exponent_bits)) & 1;
  std::uint64_t all_ones = (1ull << f.exponent_bits) - 1;
  std::uint64_t field = (bits >> fraction_bits) & all_ones;
  std::uint64_t fraction = bits & ((1ull << fraction_bits) - 1);
  if (field == all_ones) return fraction ? nan_from_bits(bits, format) : infinity(negative);
  if (field == 0) return make_finite(negative, fraction, f.emin - fraction_bits);
  return make_finite(negative, fraction | 1ull << fraction_bits,
                     static_cast<int>(field) - f.emax - fraction_bits);
}

unsigned Type::width() const {
  switch (letter) {
    case 'b': return 1;
    case 's': return 2;
    case 'i': case 'f': return 4;
    default: return 8;
  }
}

Real Type::min() const {
  if (is_unsigned) return integer(false, 0);
  return power_of_two(8 * static_cast<int>(width()) - 1, true);
}

Real Type::max() const {
  int bits = 8 * static_cast<int>(width()) - (is_unsigned ? 0 : 1);
  return from_uint64(bits == 64 ? ~0ull : (1ull << bits) - 1);
}

Real decode(const unsigned char *bytes, Type type, char order) {
  std::uint64_t image = gather(bytes, type, order == 'a' ? 'h' : order);
  if (type.is_float()) return from_ieee_bits(image, type.letter);
  unsigned bits = 8 * type.width();
  if (type.is_unsigned) return from_uint64(image);
  if (bits < 64 && (image >> (bits - 1)) & 1) image |= ~0ull << bits;
  return from_int64(static_cast<std::int64_t>(image));
}

void encode(const Real &x, Type type, char order, unsigned char *bytes) {
  std::uint64_t image;
  if (type.is_float()) {
    image = ieee_bits(x, type.letter);
  } else {
    if (compare(x, type.min()) < 0 || compare(x, type.max()) > 0)
      throw std::logic_error("integer out of range for its type");
    Wide w = truncate(x);
    image = w.negative ? 0 - w.magnitude : w.magnitude;
  }
  place(image, type, order == 'a' ? 'h' : order, bytes);
}

bool external_is_host_image(char order, Type type) {
  unsigned w = type.width();
  for (unsigned k = 0; k < w; ++k) {
    unsigned external = order == 'm' ? k : order == 'v' ? w - 1 - k : host_layout().of(type)[k];
    if (w > 1 && external != host_layout().of(type)[k]) return false;
  }
  return true;
}

std::string kind_of(char external, char host, bool to_host, bool is_unsigned) {
  auto is_int = [](char c) { return c == 'b' || c == 's' || c == 'i' || c == 'l'; };
  if (external == host) return "copy_or_rearrange";
  if (is_int(external) && is_int(host)) return to_host ? "widen" : "saturate";
  if (is_int(external)) { /* host floating */
    if (to_host) return "to_float";
    bool no_range_test = !is_unsigned && ((external == 'i' && host == 'f') || (external == 'l' && host == 'd'));
    return no_range_test ? "to_integer" : "float_saturate";
  }
  if (is_int(host)) return to_host ? "to_integer" : "to_float";
  return to_host ? "widen_float" : "narrow_float";
}

Outcome convert(const std::string &kind, const Real &x, Type source, Type destination,
                bool member_copies) {
  if (kind == "copy_or_rearrange") {
    bool reported = !member_copies && source.is_float() && x.is_nan();
    return {x, reported};
  }
  if (kind == "widen") return {x, false};
  if (kind == "saturate") {
    if (compare(x, destination.min()) < 0) return {destination.min(), true};
    if (compare(x, destination.max()) > 0) return {destination.max(), true};
    return {x, false};
  }
  if (kind == "float_saturate") {
    Real low = round_to(destination.min(), source.letter);
    Real high = round_to(destination.max(), source.letter);
    if (compare(x, low) == -1) return {destination.min(), true};
    if (compare(x, high) == 1) return {destination.max(), true};
    /* Within the range: truncation by the destination's rule, which for
     * bytes and shorts goes through the 32-bit rules and fits. */
    return {to_integer_type(x, destination), false};
  }
  if (kind == "to_float") {
    Real y = round_to(x, destination.letter);
    Real back = to_integer_type(y, source);
    return {y, compare(back, x) != 0};
  }
  if (kind == "to_integer") {
    Real y = to_integer_type(x, destination);
    Real back = round_to(y, source.letter);
    return {y, compare(back, x) != 0};
  }
  if (kind == "narrow_float") {
    Real y = round_to(x, 'f');
    return {y, compare(y, x) != 0};
  }
  if (kind == "widen_float") {
    Real y = x;
    if (y.is_nan()) y.nan_format = 0; /* widened NaN: some NaN */
    return {y, compare(round_to(x, 'f'), x) != 0};
  }
  throw std::logic_error("unknown kind " + kind);
}

std::vector<Real> edge_values(Type type) {
  std::vector<Real> candidates;
  auto add = [&](const Real &r) {
    candidates.push_back(r);
    if (r.cls == Real::finite && !is_zero(r)) {
      Real negated = r;
      negated.negative = !r.negative;
      candidates.push_back(negated);
    }
  };
  auto add_around = [&](const Real &r) { /* r - 1, r, r + 1 for integers */
    Wide w = truncate(r);
    add(r);
    if (!w.huge) {
      add(integer(false, w.magnitude - 1));
      if (w.magnitude != ~0ull) add(integer(false, w.magnitude + 1));
    }
  };
  add(integer(false, 0));
  add(make_finite(true, 0, 0)); /* -0.0 */
  for (std::uint64_t v : {1ull, 2ull, 3ull, 100ull}) add(integer(false, v));
  for (int e : {7, 8, 15, 16, 24, 31, 32, 53, 63}) add_around(power_of_two(e));
  add(integer(false, ~0ull));                    /* 2^64 - 1 */
  add(power_of_two(64));
  add(power_of_two(65));
  add(integer(false, (1ull << 24) + 3));         /* rounds up to even in single precision */
  add(integer(false, (1ull << 53) + 3));
  add(integer(false, (1ull << 31) - 128));       /* largest single below 2^31 */
  add(integer(false, (1ull << 32) - 256));       /* largest single below 2^32 */
  add(integer(false, (1ull << 63) - 1024));      /* largest double below 2^63 */
  add(integer(false, (1ull << 63) + 2048));      /* smallest double above 2^63 */
  add(integer(false, (1ull << 63) - (1ull << 39)));
  add(integer(false, 0ull - 2048));              /* largest double below 2^64 */
  add(integer(false, 0ull - (1ull << 40)));      /* largest single below 2^64 */
  add(integer(false, 0x123456789ABCDEF0ull));
  add(integer(false, 0xFEDCBA9876543210ull));
  /* fractions, halves and values just past the limits */
  for (double d : {0.5, 1.5, 2.5, 0.1, 0.7, 126.9, 127.5, 127.9, 128.5, 255.5, 256.5, 32767.5,
                   32768.5, 65535.5, 2147483647.5, 2147483648.5, 4294967295.5, 3.0e9, 5.0e9,
                   1.0e19, 1.0e20, 1.0e300, 1.0 + 0x1p-24, 1.0 + 0x3p-24, 1.0 + 0x1p-52})
    add(from_double(d));
  add(from_float(0.1f));
  add(from_float(126.9f));
  add(from_float(2147483520.0f));
  /* the smallest and largest of each format, and the single-precision
   * overflow boundary (ties round to infinity) */
  add(from_ieee_bits(1, 'f'));
  add(from_ieee_bits(0x00800000u, 'f'));
  add(from_ieee_bits(0x7F7FFFFFu, 'f'));
  add(from_ieee_bits(1, 'd'));
  add(from_ieee_bits(0x0010000000000000ull, 'd'));
  add(from_ieee_bits(0x7FEFFFFFFFFFFFFFull, 'd'));
  add(from_ieee_bits(0x47EFFFFFF0000000ull, 'd'));  /* FLT_MAX + half a unit: to infinity */
  add(from_ieee_bits(0x47EFFFFFEFFFFFFFull, 'd'));  /* just below: to FLT_MAX */
  add(from_ieee_bits(0x36A0000000000000ull, 'd'));  /* half the smallest single: to 0 */
  add(from_ieee_bits(0x36A0000000000001ull, 'd'));  /* just above: to the smallest single */
  add(infinity(false));
  add(infinity(true));
  for (std::uint64_t bits : {0x7FC00000ull, 0xFFC00000ull, 0x7FC12345ull, 0x7F800001ull})
    candidates.push_back(nan_from_bits(bits, 'f'));
  for (std::uint64_t bits : {0x7FF8000000000000ull, 0xFFF8000000000000ull, 0x7FF8000012345678ull,
                             0x7FF0000000000001ull})
    candidates.push_back(nan_from_bits(bits, 'd'));

  std::vector<Real> values;
  for (const Real &r : candidates) {
    bool fits;
    if (type.is_float()) {
      fits = representable(r, type.letter);
    } else {
      fits = is_integer(r) && compare(r, type.min()) >= 0 && compare(r, type.max()) <= 0;
    }
    bool duplicate = false;
    for (const Real &v : values) duplicate = duplicate || identical(v, r);
    if (fits && !duplicate) values.push_back(r);
  }
  return values;
}

}  // namespace tkpixmap::test::byteorder_reference
