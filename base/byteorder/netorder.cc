/*
 * netorder.cc - the network-order interface: array wrappers in memcpy
 * argument order, single-value forms, and the mixed-width converters.  All
 * network layouts are those of the m order; the wrappers forward to m-order
 * members through a local cursor so the caller's pointer never moves.
 */
#include "byteorder.h"

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "base/byteorder/numeric_rules.h"

namespace tkpixmap::byteorder {
namespace {

/* The members take a mutable cursor in both directions; reading through it
 * never writes, so the caller's const byte buffer is not modified. */
unsigned char *read_cursor(const void *from) {
  return const_cast<unsigned char *>(static_cast<const unsigned char *>(from));
}

/* The single-value forms: one element through an m-order member. */
template <class T>
using ToNetwork = int (*)(const T *, unsigned char **, int);
template <class T>
using FromNetwork = int (*)(unsigned char **, T *, int);

template <class T>
int to_network_bytes(const T *from, void *to, ToNetwork<T> member) {
  unsigned char *cursor = static_cast<unsigned char *>(to);
  return member(from, &cursor, 1);
}

template <class T>
int from_network_bytes(const void *from, T *to, FromNetwork<T> member) {
  unsigned char *cursor = read_cursor(from);
  return member(&cursor, to, 1);
}

template <class T>
T to_network_image(T x, ToNetwork<T> member) {
  unsigned char image[sizeof(T)];
  to_network_bytes(&x, image, member);
  T y;
  std::memcpy(&y, image, sizeof y);
  return y;
}

template <class T>
T from_network_image(T y, FromNetwork<T> member) {
  T x;
  from_network_bytes(&y, &x, member);
  return x;
}

}  // namespace
}  // namespace tkpixmap::byteorder

/* Wrappers whose byte side is the destination, and whose byte side is the
 * source.  Each row: the wrapper's name, its host element type, the member. */
#define TKP_TO_NETWORK(name, host_type, member)             \
  int name(void *to, const host_type *from, int n) {        \
    unsigned char *cursor = static_cast<unsigned char *>(to); \
    return member(from, &cursor, n);                        \
  }
#define TKP_FROM_NETWORK(name, host_type, member)                         \
  int name(host_type *to, const void *from, int n) {                      \
    unsigned char *cursor = tkpixmap::byteorder::read_cursor(from);       \
    return member(&cursor, to, n);                                        \
  }

/* The same-width wrappers come in two spellings each way (by width and by
 * type letter).  Each row: the host type, its two m-order members, then the
 * names to the network and the names from it. */
#define TKP_BOTH_WAYS(host_type, to_member, from_member, to_a, to_b, from_a, from_b) \
  TKP_TO_NETWORK(to_a, host_type, to_member)                                       \
  TKP_TO_NETWORK(to_b, host_type, to_member)                                       \
  TKP_FROM_NETWORK(from_a, host_type, from_member)                                 \
  TKP_FROM_NETWORK(from_b, host_type, from_member)

TKP_BOTH_WAYS(short, hs2ms, ms2hs, H2N2, H2NS, N2H2, N2HS)
TKP_BOTH_WAYS(unsigned short, uhs2ms, ums2hs, UH2N2, UH2NS, UN2H2, UN2HS)
TKP_BOTH_WAYS(int, hi2mi, mi2hi, H2N4, H2NI, N2H4, N2HI)
TKP_BOTH_WAYS(unsigned int, uhi2mi, umi2hi, UH2N4, UH2NI, UN2H4, UN2HI)
TKP_BOTH_WAYS(double, hd2md, md2hd, H2N8, H2ND, N2H8, N2HD)
TKP_BOTH_WAYS(unsigned long long, uhl2ml, uml2hl, UH2N8, UH2NL, UN2H8, UN2HL)
TKP_TO_NETWORK(H2NL, long long, hl2ml)
TKP_FROM_NETWORK(N2HL, long long, ml2hl)

/* Host int arrays packed as network bytes, shorts and floats. */
TKP_TO_NETWORK(HI2NC, int, hi2mb)
TKP_TO_NETWORK(HI2NS, int, hi2ms)
TKP_TO_NETWORK(HI2NF, int, hi2mf)
TKP_FROM_NETWORK(NC2HI, int, mb2hi)
TKP_FROM_NETWORK(NS2HI, int, ms2hi)
TKP_FROM_NETWORK(NF2HI, int, mf2hi)

/* ---------------------------------------------------------- single values */

/* The network image travels inside a host double or float; it is moved as
 * bytes so that no arithmetic ever touches it (a signalling NaN pattern
 * would be quietened). */
double htond(double x) { return tkpixmap::byteorder::to_network_image(x, hd2md); }
double ntohd(double y) { return tkpixmap::byteorder::from_network_image(y, md2hd); }
float htonf(float x) { return tkpixmap::byteorder::to_network_image(x, hf2mf); }
float ntohf(float y) { return tkpixmap::byteorder::from_network_image(y, mf2hf); }

int htondp(const double *from, void *to) {
  return tkpixmap::byteorder::to_network_bytes(from, to, hd2md);
}
int ntohdp(const void *from, double *to) {
  return tkpixmap::byteorder::from_network_bytes(from, to, md2hd);
}
int htonfp(const float *from, void *to) {
  return tkpixmap::byteorder::to_network_bytes(from, to, hf2mf);
}
int ntohfp(const void *from, float *to) {
  return tkpixmap::byteorder::from_network_bytes(from, to, mf2hf);
}
int hton8p(const long long *from, void *to) {
  return tkpixmap::byteorder::to_network_bytes(from, to, hl2ml);
}
int ntoh8p(const void *from, long long *to) {
  return tkpixmap::byteorder::from_network_bytes(from, to, ml2hl);
}

/* ------------------------------------------------- mixed-width converters */

/* 24-bit network integers: b0 b1 b2 is b0*2^16 + b1*2^8 + b2, with bit 23
 * copied into the whole top byte. */
void N32H4(int *to, const void *from, int n) {
  const unsigned char *p = static_cast<const unsigned char *>(from);
  for (int i = 0; i < n; ++i, p += 3) {
    std::uint32_t bits = std::uint32_t(p[0]) << 16 | std::uint32_t(p[1]) << 8 | p[2];
    if (bits & 0x800000u) bits |= 0xFF000000u;
    to[i] = static_cast<int>(bits);
  }
}

/* Keeps bits 23-0 and drops the top byte unchecked. */
void H42N3(void *to, const int *from, int n) {
  unsigned char *p = static_cast<unsigned char *>(to);
  for (int i = 0; i < n; ++i, p += 3) {
    std::uint32_t bits = static_cast<std::uint32_t>(from[i]);
    p[0] = static_cast<unsigned char>(bits >> 16);
    p[1] = static_cast<unsigned char>(bits >> 8);
    p[2] = static_cast<unsigned char>(bits);
  }
}

/* The four bytes are a network 32-bit integer whose bits are an IEEE single
 * value, widened exactly; NaNs and infinities pass through unreported. */
void NF2HD(double *to, const void *from, int n) {
  const unsigned char *p = static_cast<const unsigned char *>(from);
  for (int i = 0; i < n; ++i, p += 4) {
    int bits;
    N2H4(&bits, p, 1);
    to[i] = std::bit_cast<float>(bits);
  }
}

void HD2NF(void *to, const double *from, int n) {
  unsigned char *p = static_cast<unsigned char *>(to);
  for (int i = 0; i < n; ++i, p += 4) {
    int bits = std::bit_cast<int>(tkpixmap::byteorder::rules::to_float(from[i]));
    H2N4(p, &bits, 1);
  }
}
