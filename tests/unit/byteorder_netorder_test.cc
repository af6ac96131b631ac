/*
 * byteorder_netorder_test.cc - the network-order wrappers, single-value
 * forms and mixed-width converters: each wrapper against the m-order member
 * it stands for, the converters of their own against the reference model,
 * and the documented examples byte for byte.
 */
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "byteorder.h"
#include "tests/support/byteorder_reference.h"

namespace {

namespace ref = tkpixmap::test::byteorder_reference;
using ref::Real;
using Bytes = std::vector<unsigned char>;

constexpr unsigned char kGuard = 0xA5;

/* Host values of type H for the edge values of `type`, through their images. */
template <class H>
std::vector<H> host_values(ref::Type type) {
  std::vector<H> out;
  for (const Real &r : ref::edge_values(type)) {
    unsigned char image[sizeof(H)];
    ref::encode(r, type, 'h', image);
    H value;
    std::memcpy(&value, image, sizeof value);
    out.push_back(value);
  }
  return out;
}

/* Network images (m order) of the edge values of `type`. */
Bytes network_images(ref::Type type, std::size_t &count) {
  Bytes out;
  count = 0;
  for (const Real &r : ref::edge_values(type)) {
    unsigned char image[8];
    ref::encode(r, type, 'm', image);
    out.insert(out.end(), image, image + type.width());
    ++count;
  }
  return out;
}

/* One row per wrapper: its name, and a check that runs it and its member
 * side by side on the same input and compares results and outputs. */
struct WrapperCase {
  std::string name;
  std::function<void()> check;
};

template <class H>
WrapperCase to_network(const char *name, int (*wrapper)(void *, const H *, int),
                       int (*member)(const H *, unsigned char **, int), ref::Type host, unsigned width) {
  return {name, [=] {
            std::vector<H> values = host_values<H>(host);
            int n = static_cast<int>(values.size());
            Bytes by_wrapper(values.size() * width + 2, kGuard), by_member(by_wrapper.size(), kGuard);
            void *destination = by_wrapper.data() + 1;
            int wrapper_result = wrapper(destination, values.data(), n);
            unsigned char *cursor = by_member.data() + 1;
            int member_result = member(values.data(), &cursor, n);
            EXPECT_EQ(wrapper_result, member_result);
            EXPECT_EQ(by_wrapper, by_member);
            EXPECT_EQ(by_wrapper.back(), kGuard);
            /* Nothing is written for an empty or negative count. */
            Bytes untouched(by_wrapper.size(), kGuard);
            for (int bad : {0, -1, std::numeric_limits<int>::min()}) {
              EXPECT_EQ(wrapper(untouched.data() + 1, values.data(), bad), 0);
              EXPECT_EQ(untouched, Bytes(by_wrapper.size(), kGuard));
            }
          }};
}

template <class H>
WrapperCase from_network(const char *name, int (*wrapper)(H *, const void *, int),
                         int (*member)(unsigned char **, H *, int), ref::Type external) {
  return {name, [=] {
            std::size_t count;
            Bytes images = network_images(external, count);
            Bytes buffer(images.size() + 1);
            std::memcpy(buffer.data() + 1, images.data(), images.size());
            std::vector<H> by_wrapper(count + 1), by_member(count + 1);
            std::memset(by_wrapper.data(), kGuard, by_wrapper.size() * sizeof(H));
            std::memset(by_member.data(), kGuard, by_member.size() * sizeof(H));
            const void *source = buffer.data() + 1;
            int wrapper_result = wrapper(by_wrapper.data(), source, static_cast<int>(count));
            unsigned char *cursor = buffer.data() + 1;
            int member_result = member(&cursor, by_member.data(), static_cast<int>(count));
            EXPECT_EQ(wrapper_result, member_result);
            EXPECT_EQ(std::memcmp(by_wrapper.data(), by_member.data(), by_wrapper.size() * sizeof(H)), 0);
            std::vector<H> untouched(2);
            std::memset(untouched.data(), kGuard, 2 * sizeof(H));
            for (int bad : {0, -1, std::numeric_limits<int>::min()}) {
              EXPECT_EQ(wrapper(untouched.data(), source, bad), 0);
              for (std::size_t b = 0; b < 2 * sizeof(H); ++b)
                EXPECT_EQ(reinterpret_cast<unsigned char *>(untouched.data())[b], kGuard);
            }
          }};
}

TEST(NetworkWrappers, EachForwardsToItsMember) {
  const ref::Type s{'s', false}, us{'s', true}, i{'i', false}, ui{'i', true}, l{'l', false},
      ul{'l', true}, d{'d', false}, f{'f', false}, b{'b', false};
  const WrapperCase cases[] = {
      to_network("H2N2", H2N2, hs2ms, s, 2),       to_network("H2NS", H2NS, hs2ms, s, 2),
      from_network("N2H2", N2H2, ms2hs, s),        from_network("N2HS", N2HS, ms2hs, s),
      to_network("UH2N2", UH2N2, uhs2ms, us, 2),   to_network("UH2NS", UH2NS, uhs2ms, us, 2),
      from_network("UN2H2", UN2H2, ums2hs, us),    from_network("UN2HS", UN2HS, ums2hs, us),
      to_network("H2N4", H2N4, hi2mi, i, 4),       to_network("H2NI", H2NI, hi2mi, i, 4),
      from_network("N2H4", N2H4, mi2hi, i),        from_network("N2HI", N2HI, mi2hi, i),
      to_network("UH2N4", UH2N4, uhi2mi, ui, 4),   to_network("UH2NI", UH2NI, uhi2mi, ui, 4),
      from_network("UN2H4", UN2H4, umi2hi, ui),    from_network("UN2HI", UN2HI, umi2hi, ui),
      to_network("H2N8", H2N8, hd2md, d, 8),       to_network("H2ND", H2ND, hd2md, d, 8),
      from_network("N2H8", N2H8, md2hd, d),        from_network("N2HD", N2HD, md2hd, d),
      to_network("UH2N8", UH2N8, uhl2ml, ul, 8),   to_network("UH2NL", UH2NL, uhl2ml, ul, 8),
      from_network("UN2H8", UN2H8, uml2hl, ul),    from_network("UN2HL", UN2HL, uml2hl, ul),
      to_network("H2NL", H2NL, hl2ml, l, 8),       from_network("N2HL", N2HL, ml2hl, l),
      to_network("HI2NC", HI2NC, hi2mb, i, 1),     to_network("HI2NS", HI2NS, hi2ms, i, 2),
      to_network("HI2NF", HI2NF, hi2mf, i, 4),     from_network("NC2HI", NC2HI, mb2hi, b),
      from_network("NS2HI", NS2HI, ms2hi, s),      from_network("NF2HI", NF2HI, mf2hi, f),
  };
  EXPECT_EQ(sizeof cases / sizeof cases[0], 32u);
  for (const WrapperCase &c : cases) {
    SCOPED_TRACE(c.name);
    c.check();
  }
}

TEST(NetworkWrappers, DocumentedExamples) {
  unsigned char out[8];
  int one = 1;
  EXPECT_EQ(H2N4(out, &one, 1), 0);
  EXPECT_EQ(Bytes(out, out + 4), (Bytes{0, 0, 0, 1}));
  int back = 0;
  EXPECT_EQ(N2H4(&back, out, 1), 0);
  EXPECT_EQ(back, 1);

  double unit = 1.0;
  EXPECT_EQ(H2N8(out, &unit, 1), 0);
  EXPECT_EQ(Bytes(out, out + 8), (Bytes{0x3F, 0xF0, 0, 0, 0, 0, 0, 0}));
  double nan = std::numeric_limits<double>::quiet_NaN();
  unsigned char nan_image[8];
  htondp(&nan, nan_image);
  /* A NaN is reported where the bytes are rearranged; on a big-endian host
   * the network image is the host image and the member copies. */
  const bool rearranged = !ref::external_is_host_image('m', {'d', false});
  EXPECT_EQ(H2N8(out, &nan, 1), rearranged ? -1 : 0);
  EXPECT_EQ(Bytes(out, out + 8), Bytes(nan_image, nan_image + 8));
  EXPECT_EQ(out[0] & 0x7F, 0x7F);
  EXPECT_EQ(out[1] & 0xF0, 0xF0);
  for (unsigned long long bits : {0ull, ~0ull, 0x7FF8000000000001ull, 0xFFF0000000000000ull}) {
    EXPECT_EQ(UH2N8(out, &bits, 1), 0);
    EXPECT_EQ(out[0], static_cast<unsigned char>(bits >> 56));
    EXPECT_EQ(out[7], static_cast<unsigned char>(bits));
  }

  int wide[2] = {300, -300};
  EXPECT_EQ(HI2NC(out, wide, 2), -1);
  EXPECT_EQ(Bytes(out, out + 2), (Bytes{0x7F, 0x80}));
  const unsigned char minus128[1] = {0x80};
  int narrow = 0;
  EXPECT_EQ(NC2HI(&narrow, minus128, 1), 0);
  EXPECT_EQ(narrow, -128);

  const unsigned char two_and_a_half[4] = {0x40, 0x20, 0x00, 0x00};
  EXPECT_EQ(NF2HI(&narrow, two_and_a_half, 1), -1);
  EXPECT_EQ(narrow, 2);
  int exact[2] = {16777216, 16777217};
  EXPECT_EQ(HI2NF(out, exact, 1), 0);
  EXPECT_EQ(Bytes(out, out + 4), (Bytes{0x4B, 0x80, 0, 0}));
  EXPECT_EQ(HI2NF(out, exact + 1, 1), -1);
  int shorts[2] = {40000, -2};
  EXPECT_EQ(HI2NS(out, shorts, 2), -1);
  EXPECT_EQ(Bytes(out, out + 4), (Bytes{0x7F, 0xFF, 0xFF, 0xFE}));
  int back_shorts[2];
  EXPECT_EQ(NS2HI(back_shorts, out, 2), 0);
  EXPECT_EQ(back_shorts[0], 32767);
  EXPECT_EQ(back_shorts[1], -2);
}

/* -------------------------------------------------------- single values */

template <class T>
Bytes image_of(T value) {
  Bytes b(sizeof value);
  std::memcpy(b.data(), &value, sizeof value);
  return b;
}

/* Every edge value of one floating type through its four single-value
 * forms: the network image out, the host image back, bit for bit. */
template <class T>
void expect_single_values_carry_images(char letter, T (*to_network)(T), T (*from_network)(T),
                                       int (*to_bytes)(const T *, void *),
                                       int (*from_bytes)(const void *, T *)) {
  constexpr std::size_t kSize = sizeof(T);
  for (const Real &r : ref::edge_values({letter, false})) {
    SCOPED_TRACE(r.describe());
    unsigned char host_image[kSize], network[kSize];
    ref::encode(r, {letter, false}, 'h', host_image);
    ref::encode(r, {letter, false}, 'm', network);
    T x;
    std::memcpy(&x, host_image, kSize);
    T y = to_network(x);
    EXPECT_EQ(image_of(y), Bytes(network, network + kSize));
    EXPECT_EQ(image_of(from_network(y)), Bytes(host_image, host_image + kSize));
    unsigned char written[kSize + 1];
    const int report = r.is_nan() && !ref::external_is_host_image('m', {letter, false}) ? -1 : 0;
    EXPECT_EQ(to_bytes(&x, written + 1), report);
    EXPECT_EQ(Bytes(written + 1, written + kSize + 1), Bytes(network, network + kSize));
    T read = 0;
    EXPECT_EQ(from_bytes(written + 1, &read), report);
    EXPECT_EQ(image_of(read), Bytes(host_image, host_image + kSize));
  }
}

TEST(SingleValues, CarryTheNetworkImageAndComeBackBitForBit) {
  expect_single_values_carry_images<double>('d', htond, ntohd, htondp, ntohdp);
  expect_single_values_carry_images<float>('f', htonf, ntohf, htonfp, ntohfp);
  for (long long v : {0LL, -1LL, 0x0102030405060708LL, std::numeric_limits<long long>::min()}) {
    unsigned char written[9];
    EXPECT_EQ(hton8p(&v, written + 1), 0);
    for (int k = 0; k < 8; ++k)
      EXPECT_EQ(written[1 + k], static_cast<unsigned char>(static_cast<unsigned long long>(v) >> (56 - 8 * k)));
    long long back = 1;
    EXPECT_EQ(ntoh8p(written + 1, &back), 0);
    EXPECT_EQ(back, v);
  }
}

/* ----------------------------------------------- mixed-width converters */

TEST(MixedWidth, TwentyFourBitIntegers) {
  const unsigned char bytes[] = {0x7F, 0xFF, 0xFF, 0x80, 0x00, 0x00, 0xFF, 0xFF, 0xFE, 0x00, 0x00, 0x01};
  int values[5] = {0, 0, 0, 0, 99};
  N32H4(values, bytes, 4);
  EXPECT_EQ(values[0], 8388607);
  EXPECT_EQ(values[1], -8388608);
  EXPECT_EQ(values[2], -2);
  EXPECT_EQ(values[3], 1);
  EXPECT_EQ(values[4], 99);

  const int out_of_range[2] = {(1 << 24) + 1, -1};
  unsigned char packed[8];
  std::memset(packed, kGuard, sizeof packed);
  H42N3(packed + 1, out_of_range, 2); /* odd address */
  EXPECT_EQ(Bytes(packed, packed + 8), (Bytes{kGuard, 0, 0, 1, 0xFF, 0xFF, 0xFF, kGuard}));

  /* Every 24-bit value in steps, with both ends: H42N3 then N32H4 is the
   * identity on -2^23 .. 2^23-1, and keeps the low 24 bits of anything. */
  std::vector<int> sweep;
  for (int v = -(1 << 23); v < (1 << 23); v += 4099) sweep.push_back(v);
  for (int v : {-(1 << 23), (1 << 23) - 1, 0, -1, std::numeric_limits<int>::max(), std::numeric_limits<int>::min()})
    sweep.push_back(v);
  std::vector<unsigned char> network(sweep.size() * 3 + 1);
  H42N3(network.data() + 1, sweep.data(), static_cast<int>(sweep.size()));
  std::vector<int> back(sweep.size());
  N32H4(back.data(), network.data() + 1, static_cast<int>(sweep.size()));
  for (std::size_t k = 0; k < sweep.size(); ++k) {
    std::uint32_t low = static_cast<std::uint32_t>(sweep[k]) & 0xFFFFFFu;
    std::int64_t expected = low >= 0x800000u ? static_cast<std::int64_t>(low) - 0x1000000 : low;
    EXPECT_EQ(back[k], expected) << sweep[k];
    EXPECT_EQ(network[1 + 3 * k], static_cast<unsigned char>(low >> 16));
  }
}

TEST(MixedWidth, SinglePrecisionImagesHeldAsDouble) {
  const unsigned char one[4] = {0x3F, 0x80, 0x00, 0x00};
  double unit = 0;
  NF2HD(&unit, one, 1);
  EXPECT_EQ(unit, 1.0);
  unsigned char out[5];
  double huge = 1.0e300;
  HD2NF(out + 1, &huge, 1);
  EXPECT_EQ(Bytes(out + 1, out + 5), (Bytes{0x7F, 0x80, 0x00, 0x00}));

  /* Every edge double narrows as the rules say, without any report, and
   * every edge single widens exactly; NaNs stay NaNs. */
  std::vector<Real> doubles = ref::edge_values({'d', false});
  std::vector<double> hosts = host_values<double>({'d', false});
  std::vector<unsigned char> network(hosts.size() * 4 + 1, kGuard);
  HD2NF(network.data() + 1, hosts.data(), static_cast<int>(hosts.size()));
  EXPECT_EQ(network[0], kGuard);
  for (std::size_t k = 0; k < hosts.size(); ++k) {
    Real expected = ref::round_to(doubles[k], 'f');
    Real got = ref::decode(network.data() + 1 + 4 * k, {'f', false}, 'm');
    EXPECT_TRUE(ref::identical(got, expected)) << doubles[k].describe() << " gave " << got.describe();
  }
  std::size_t count;
  Bytes singles = network_images({'f', false}, count);
  std::vector<Real> single_values = ref::edge_values({'f', false});
  std::vector<double> widened(count + 1, -7.0);
  NF2HD(widened.data(), singles.data(), static_cast<int>(count));
  EXPECT_EQ(widened[count], -7.0);
  for (std::size_t k = 0; k < count; ++k) {
    Real got = ref::from_double(widened[k]);
    Real expected = single_values[k];
    if (expected.is_nan()) expected.nan_format = 0; /* a widened NaN is some NaN */
    EXPECT_TRUE(ref::identical(got, expected)) << single_values[k].describe();
  }
  for (int bad : {0, -5}) {
    NF2HD(widened.data(), singles.data(), bad);
    HD2NF(network.data(), hosts.data(), bad);
    N32H4(nullptr, nullptr, bad);
    H42N3(nullptr, nullptr, bad);
  }
  EXPECT_EQ(widened[count], -7.0);
  EXPECT_EQ(network[0], kGuard);
}

}  // namespace
