/*
 * byteorder_reference.h - an independent model of the byte-order conversion
 * rules for the tests: exact values (sign, 64-bit mantissa, binary exponent),
 * exact rounding to single and double precision, truncation through wide
 * integers, and IEEE 754 images built field by field.  It shares no code
 * with the library; the host's memory layout is found by probing at run time
 * rather than from compile-time facts.
 */
#ifndef TKPIXMAP_TESTS_BYTEORDER_REFERENCE_H
#define TKPIXMAP_TESTS_BYTEORDER_REFERENCE_H

#include <cstdint>
#include <string>
#include <vector>

namespace tkpixmap::test::byteorder_reference {

/* An exact value.  Finite values are (-1)^negative * mantissa * 2^exponent
 * with the mantissa normalised to have its top bit set (or 0 for zeros). */
struct Real {
  enum Class { finite, infinite, nan } cls = finite;
  bool negative = false;
  std::uint64_t mantissa = 0;
  int exponent = 0;
  /* A NaN's own image and the format ('f' or 'd') it belongs to; a NaN made
   * by a conversion has no known image (format 0). */
  std::uint64_t nan_bits = 0;
  char nan_format = 0;

  bool is_nan() const { return cls == nan; }
  std::string describe() const;
};

Real integer(bool negative, std::uint64_t magnitude);
Real from_int64(std::int64_t v);
Real from_uint64(std::uint64_t v);
Real power_of_two(int e, bool negative = false);
Real from_double(double d);
Real from_float(float f);
Real infinity(bool negative);
Real nan_from_bits(std::uint64_t bits, char format);

/* -1, 0, 1, or 2 when either side is a NaN (IEEE: unordered). */
int compare(const Real &a, const Real &b);
/* Same class, sign and value; for NaNs with known images, the same image. */
bool identical(const Real &a, const Real &b);

/* Round to single ('f') or double ('d') precision: nearest, ties to even,
 * gradual underflow, overflow to infinity. */
Real round_to(const Real &x, char format);
bool representable(const Real &x, char format);

/* IEEE 754 image of a value representable in `format`, and back. */
std::uint64_t ieee_bits(const Real &x, char format);
Real from_ieee_bits(std::uint64_t bits, char format);

/* Element types: letter b s i l f d, and the u flag for integers. */
struct Type {
  char letter;
  bool is_unsigned;
  unsigned width() const;
  bool is_float() const { return letter == 'f' || letter == 'd'; }
  Real min() const; /* integers only */
  Real max() const;
};

/* The value held in `width` bytes: order 'm' (most significant first), 'v'
 * (least significant first), 'a' or 'h' (the host's memory image). */
Real decode(const unsigned char *bytes, Type type, char order);
void encode(const Real &x, Type type, char order, unsigned char *bytes);

/* True when the external image in `order` of `type` is the host image. */
bool external_is_host_image(char order, Type type);

/* The kind of a member, from the table of kinds by pair. */
std::string kind_of(char external, char host, bool to_host, bool is_unsigned);

struct Outcome {
  Real value;
  bool reported;
};

/* Converts one source element as a member of `kind` does. */
Outcome convert(const std::string &kind, const Real &x, Type source, Type destination,
                bool member_copies);

/* The values worth feeding to a member whose source is `type`: limits and
 * their neighbours, zeros, fractions and halves, powers of two around every
 * precision, the largest floats, infinities and NaNs, each exactly
 * representable in the type. */
std::vector<Real> edge_values(Type type);

}  // namespace tkpixmap::test::byteorder_reference

#endif
