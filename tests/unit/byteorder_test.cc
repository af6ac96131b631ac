/*
 * byteorder_test.cc - the swap primitives and the 258 typed conversion
 * routines, walked through the same table the library is built from and
 * checked against the independent reference model: values, stored bytes and
 * reports, on aligned and unaligned cursors, with empty and negative counts,
 * plus the documented examples byte for byte.
 */
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "base/byteorder/layout.h"
#include "byteorder.h"
#include "tests/support/byteorder_reference.h"

namespace {

namespace ref = tkpixmap::test::byteorder_reference;
using ref::Real;

/* ------------------------------------------------ the table, as the tests see it */

using ToHostFn = int (*)(unsigned char **cursor, void *to, int n);
using ToExternalFn = int (*)(const void *from, unsigned char **cursor, int n);

struct Row {
  const char *name;
  char order, external, host;
  bool to_host, is_unsigned;
  const char *kind;
  ToHostFn to_host_fn;
  ToExternalFn to_external_fn;
};

/* The tests' own idea of the C type behind each letter. */
#define TEST_CTYPE_plain_b signed char
#define TEST_CTYPE_u_b unsigned char
#define TEST_CTYPE_plain_s short
#define TEST_CTYPE_u_s unsigned short
#define TEST_CTYPE_plain_i int
#define TEST_CTYPE_u_i unsigned int
#define TEST_CTYPE_plain_l long long
#define TEST_CTYPE_u_l unsigned long long
#define TEST_CTYPE_plain_f float
#define TEST_CTYPE_u_f float
#define TEST_CTYPE_plain_d double
#define TEST_CTYPE_u_d double
#define TEST_CTYPE(sign, host) TEST_CTYPE_##sign##_##host

#define TEST_CALLS_to_host(name, host, sign)                                  \
  true,                                                                       \
      [](unsigned char **c, void *to, int n) {                                \
        return name(c, static_cast<TEST_CTYPE(sign, host) *>(to), n);         \
      },                                                                      \
      nullptr
#define TEST_CALLS_to_external(name, host, sign)                                          \
  false, nullptr, [](const void *from, unsigned char **c, int n) {                        \
    return name(static_cast<const TEST_CTYPE(sign, host) *>(from), c, n);                 \
  }

/* A row as the table spells it (letters as strings), with the direction flag
 * and the typed caller spliced in by TEST_CALLS_*. */
struct RowBuilder {
  const char *name, *order, *external, *host, *sign, *kind;
  bool to_host;
  ToHostFn to_host_fn;
  ToExternalFn to_external_fn;
  Row row() const {
    return Row{name, order[0], external[0], host[0], to_host, sign[0] == 'u', kind, to_host_fn,
               to_external_fn};
  }
};

const std::vector<Row> &table() {
  static const std::vector<Row> rows = [] {
    const RowBuilder built[] = {
#define TKP_CONVERSION(name, order, ext, host, direction, sign, kind) \
  {#name, #order, #ext, #host, #sign, #kind, TEST_CALLS_##direction(name, host, sign)},
#include "base/byteorder/conversions.def"
#undef TKP_CONVERSION
    };
    std::vector<Row> out;
    for (const RowBuilder &b : built) out.push_back(b.row());
    return out;
  }();
  return rows;
}

bool is_integer_letter(char c) { return c == 'b' || c == 's' || c == 'i' || c == 'l'; }

ref::Type external_type(const Row &row) {
  return {row.external, row.is_unsigned && is_integer_letter(row.external)};
}
ref::Type host_type(const Row &row) {
  return {row.host, row.is_unsigned && is_integer_letter(row.host)};
}
ref::Type source_type(const Row &row) { return row.to_host ? external_type(row) : host_type(row); }
ref::Type destination_type(const Row &row) {
  return row.to_host ? host_type(row) : external_type(row);
}

std::vector<std::string> fixture_exports() {
  std::vector<std::string> names;
  FILE *f = std::fopen(TKPIXMAP_SOURCE_DIR "/tests/fixtures/exports.txt", "r");
  if (!f) return names;
  char line[256];
  while (std::fgets(line, sizeof line, f)) {
    std::string name(line);
    while (!name.empty() && (name.back() == '\n' || name.back() == '\r' || name.back() == ' '))
      name.pop_back();
    if (!name.empty()) names.push_back(name);
  }
  std::fclose(f);
  return names;
}

TEST(ConversionTable, RowsAreTheExportedFamilyInOrder) {
  const auto &rows = table();
  ASSERT_EQ(rows.size(), 258u);
  std::vector<std::string> exported = fixture_exports();
  ASSERT_GE(exported.size(), 258u);
  for (std::size_t i = 0; i < rows.size(); ++i) EXPECT_EQ(rows[i].name, exported[i]) << "row " << i;
  std::set<std::string> unique;
  for (const Row &r : rows) unique.insert(r.name);
  EXPECT_EQ(unique.size(), 258u);
}

TEST(ConversionTable, EachRowsFieldsSpellItsName) {
  for (const Row &r : table()) {
    std::string external{r.order, r.external}, host{'h', r.host};
    std::string expected = std::string(r.is_unsigned ? "u" : "") +
                           (r.to_host ? external + "2" + host : host + "2" + external);
    EXPECT_EQ(r.name, expected);
  }
}

TEST(ConversionTable, KindsFollowTheTableOfPairs) {
  for (const Row &r : table())
    EXPECT_EQ(r.kind, ref::kind_of(r.external, r.host, r.to_host, r.is_unsigned)) << r.name;
}

/* Which members copy: 20 in a, 4 in m and 20 in v on a little-endian host
 * (18 in v when doubles keep their words swapped), 20, 20 and 4 on a
 * big-endian one. */
TEST(ConversionTable, CopyingMembersFollowFromTheHostLayout) {
  int copies[3] = {0, 0, 0};
  for (const Row &r : table()) {
    if (std::string(r.kind) != "copy_or_rearrange") continue;
    copies[r.order == 'a' ? 0 : r.order == 'm' ? 1 : 2] +=
        ref::external_is_host_image(r.order, external_type(r));
  }
  EXPECT_EQ(copies[0], 20);
  bool little = ref::external_is_host_image('v', {'i', false});
  bool plain_doubles = ref::external_is_host_image(little ? 'v' : 'm', {'d', false});
  std::array<int, 3> expected = little ? (plain_doubles ? std::array<int, 3>{20, 4, 20}
                                                        : std::array<int, 3>{20, 4, 18})
                                       : (plain_doubles ? std::array<int, 3>{20, 20, 4}
                                                        : std::array<int, 3>{20, 18, 4});
  EXPECT_EQ((std::array<int, 3>{copies[0], copies[1], copies[2]}), expected);
}

/* ------------------------------------------------------- layouts by host */

using tkpixmap::byteorder::external_is_host_image;
using tkpixmap::byteorder::HostFacts;
using tkpixmap::byteorder::host_position;
using tkpixmap::byteorder::Order;

/* The three kinds of host the layouts must serve, and for each the members
 * that become copies.  The word-swapped host keeps a double as two
 * little-endian words, sign and exponent word first: m bytes 3 2 1 0 7 6 5 4. */
TEST(Layouts, EveryKindOfHostGetsItsCopiesAndRearrangements) {
  struct Case {
    const char *host;
    HostFacts facts;
    std::vector<unsigned> double_image; /* m-image byte at each memory offset */
    const char *m_copies, *v_copies;    /* which of s i l f d copy */
  };
  const Case cases[] = {
      {"little-endian", {std::endian::little, std::endian::little}, {7, 6, 5, 4, 3, 2, 1, 0}, "", "silfd"},
      {"big-endian", {std::endian::big, std::endian::big}, {0, 1, 2, 3, 4, 5, 6, 7}, "silfd", ""},
      {"word-swapped doubles", {std::endian::little, std::endian::big}, {3, 2, 1, 0, 7, 6, 5, 4}, "", "silf"},
  };
  struct Letter {
    char letter;
    unsigned width;
    bool is_double;
  };
  const Letter letters[] = {{'s', 2, false}, {'i', 4, false}, {'l', 8, false}, {'f', 4, false}, {'d', 8, true}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.host);
    std::vector<unsigned> image(8);
    for (unsigned k = 0; k < 8; ++k) image[host_position(c.facts, 8, true, k)] = k;
    EXPECT_EQ(image, c.double_image);
    for (const Letter &l : letters) {
      EXPECT_TRUE(external_is_host_image(c.facts, Order::a, l.width, l.is_double));
      EXPECT_EQ(external_is_host_image(c.facts, Order::m, l.width, l.is_double),
                std::string(c.m_copies).find(l.letter) != std::string::npos) << l.letter;
      EXPECT_EQ(external_is_host_image(c.facts, Order::v, l.width, l.is_double),
                std::string(c.v_copies).find(l.letter) != std::string::npos) << l.letter;
    }
    EXPECT_TRUE(external_is_host_image(c.facts, Order::m, 1, false));
    EXPECT_TRUE(external_is_host_image(c.facts, Order::v, 1, false));
  }
}

/* The compile-time facts agree with what this host actually does. */
TEST(Layouts, NativeFactsMatchTheProbedHost) {
  for (char order : {'m', 'v'})
    for (char letter : {'s', 'i', 'l', 'f', 'd'}) {
      unsigned width = ref::Type{letter, false}.width();
      Order o = order == 'm' ? Order::m : Order::v;
      EXPECT_EQ(external_is_host_image(tkpixmap::byteorder::kNativeHost, o, width, letter == 'd'),
                ref::external_is_host_image(order, {letter, false}))
          << order << letter;
    }
}

/* ----------------------------------------------- every member, every edge */

constexpr unsigned char kGuard = 0xA5;

struct MemberRun {
  int result;
  std::ptrdiff_t advanced;
  std::vector<Real> outputs;
  bool guards_intact;
};

/* Runs one member over `values` with the external side at `offset` bytes
 * into a guarded buffer. */
MemberRun run_member(const Row &row, const std::vector<Real> &values, unsigned offset, int n_override = 0,
               bool use_override = false) {
  ref::Type ext = external_type(row), host = host_type(row);
  std::size_t count = values.size();
  std::size_t ext_bytes = count * ext.width(), host_bytes = count * host.width();
  std::vector<unsigned char> external(offset + ext_bytes + 16, kGuard);
  /* Host arrays are aligned for their type: 8-byte aligned storage. */
  std::vector<std::uint64_t> host_storage(host_bytes / 8 + 3, 0);
  auto *host_base = reinterpret_cast<unsigned char *>(host_storage.data());
  std::memset(host_base, kGuard, host_storage.size() * 8);
  unsigned char *host_array = host_base + 8;
  unsigned char *ext_array = external.data() + offset;

  for (std::size_t i = 0; i < count; ++i) {
    if (row.to_host)
      ref::encode(values[i], ext, row.order, ext_array + i * ext.width());
    else
      ref::encode(values[i], host, 'h', host_array + i * host.width());
  }
  std::vector<unsigned char> external_before = external;
  std::vector<std::uint64_t> host_before = host_storage;

  int n = use_override ? n_override : static_cast<int>(count);
  unsigned char *cursor = ext_array;
  MemberRun run;
  run.result = row.to_host ? row.to_host_fn(&cursor, host_array, n)
                           : row.to_external_fn(host_array, &cursor, n);
  run.advanced = cursor - ext_array;
  for (std::size_t i = 0; i < count && !use_override; ++i)
    run.outputs.push_back(row.to_host ? ref::decode(host_array + i * host.width(), host, 'h')
                                      : ref::decode(ext_array + i * ext.width(), ext, row.order));
  if (use_override) {
    run.guards_intact = external == external_before && host_storage == host_before;
  } else if (row.to_host) {
    run.guards_intact = external == external_before &&
                        std::all_of(host_base, host_array, [](unsigned char b) { return b == kGuard; }) &&
                        std::all_of(host_array + host_bytes, host_base + host_storage.size() * 8,
                                    [](unsigned char b) { return b == kGuard; });
  } else {
    run.guards_intact = host_storage == host_before &&
                        std::all_of(external.begin(), external.begin() + offset,
                                    [](unsigned char b) { return b == kGuard; }) &&
                        std::all_of(external.begin() + offset + ext_bytes, external.end(),
                                    [](unsigned char b) { return b == kGuard; });
  }
  return run;
}

class EveryMember : public ::testing::TestWithParam<char> {};

TEST_P(EveryMember, AgreesWithTheReferenceOnEveryEdgeValue) {
  for (const Row &row : table()) {
    if (row.order != GetParam()) continue;
    SCOPED_TRACE(row.name);
    ref::Type source = source_type(row), destination = destination_type(row);
    bool copies = ref::external_is_host_image(row.order, external_type(row));
    std::vector<Real> values = ref::edge_values(source);
    ASSERT_GE(values.size(), source.is_float() ? 40u : 8u);

    bool any_reported = false;
    std::vector<ref::Outcome> expected;
    for (std::size_t i = 0; i < values.size(); ++i) {
      expected.push_back(ref::convert(row.kind, values[i], source, destination, copies));
      any_reported = any_reported || expected.back().reported;
      /* One element at a time, on cursors of every alignment. */
      MemberRun one = run_member(row, {values[i]}, static_cast<unsigned>(i % 8));
      EXPECT_EQ(one.result, expected.back().reported ? -1 : 0) << values[i].describe();
      EXPECT_EQ(one.advanced, static_cast<std::ptrdiff_t>(external_type(row).width()));
      EXPECT_TRUE(ref::identical(one.outputs[0], expected.back().value))
          << values[i].describe() << " gave " << one.outputs[0].describe() << ", expected "
          << expected.back().value.describe();
      EXPECT_TRUE(one.guards_intact) << values[i].describe();
    }
    /* All at once from an odd address: the same values, one combined report. */
    MemberRun all = run_member(row, values, 3);
    EXPECT_EQ(all.result, any_reported ? -1 : 0);
    EXPECT_EQ(all.advanced, static_cast<std::ptrdiff_t>(values.size() * external_type(row).width()));
    EXPECT_TRUE(all.guards_intact);
    for (std::size_t i = 0; i < values.size(); ++i)
      EXPECT_TRUE(ref::identical(all.outputs[i], expected[i].value)) << values[i].describe();
  }
}

/* Arrays long enough to span several of the blocks the library works in:
 * every element still converted, and a single changed element anywhere
 * (here the very last) still reported. */
TEST_P(EveryMember, LongArraysKeepEveryElementAndTheReport) {
  constexpr std::size_t kLength = 1100;
  for (const Row &row : table()) {
    if (row.order != GetParam()) continue;
    SCOPED_TRACE(row.name);
    ref::Type source = source_type(row), destination = destination_type(row);
    bool copies = ref::external_is_host_image(row.order, external_type(row));
    std::vector<Real> edges = ref::edge_values(source);
    std::vector<ref::Outcome> outcomes;
    const Real *quiet = nullptr, *loud = nullptr;
    for (const Real &v : edges) {
      outcomes.push_back(ref::convert(row.kind, v, source, destination, copies));
      (outcomes.back().reported ? loud : quiet) = &v;
    }
    ASSERT_NE(quiet, nullptr);

    std::vector<Real> mixed(kLength);
    bool any_reported = false;
    for (std::size_t i = 0; i < kLength; ++i) {
      mixed[i] = edges[(i * 7) % edges.size()];
      any_reported = any_reported || outcomes[(i * 7) % edges.size()].reported;
    }
    MemberRun run = run_member(row, mixed, 5);
    EXPECT_EQ(run.result, any_reported ? -1 : 0);
    EXPECT_EQ(run.advanced, static_cast<std::ptrdiff_t>(kLength * external_type(row).width()));
    EXPECT_TRUE(run.guards_intact);
    std::size_t wrong = 0;
    for (std::size_t i = 0; i < kLength; ++i)
      wrong += !ref::identical(run.outputs[i], outcomes[(i * 7) % edges.size()].value);
    EXPECT_EQ(wrong, 0u);

    std::vector<Real> calm(kLength, *quiet);
    EXPECT_EQ(run_member(row, calm, 1).result, 0);
    if (loud) {
      calm.back() = *loud;
      MemberRun late = run_member(row, calm, 1);
      EXPECT_EQ(late.result, -1);
      EXPECT_TRUE(ref::identical(late.outputs.back(), ref::convert(row.kind, *loud, source, destination, copies).value));
    }
  }
}

TEST_P(EveryMember, EmptyAndNegativeCountsTouchNothing) {
  for (const Row &row : table()) {
    if (row.order != GetParam()) continue;
    SCOPED_TRACE(row.name);
    std::vector<Real> values = ref::edge_values(source_type(row));
    values.resize(4);
    for (int n : {0, -1, -7, std::numeric_limits<int>::min()}) {
      MemberRun run = run_member(row, values, 1, n, true);
      EXPECT_EQ(run.result, 0) << n;
      EXPECT_EQ(run.advanced, 0) << n;
      EXPECT_TRUE(run.guards_intact) << n;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Orders, EveryMember, ::testing::Values('a', 'm', 'v'),
                         [](const ::testing::TestParamInfo<char> &order) {
                           return std::string(1, order.param) + "Order";
                         });

/* ------------------------------------- blocks taken the quick way or not */

/* Members from 64-bit sources (64-bit integers, doubles) take quicker ways
 * through blocks whose every element lies in an easy range (|x| < 2^53
 * into double, |x| < 2^63 into a 64-bit integer, the float range, the
 * unsigned 32-bit range) and the exact rules elsewhere.  These are the
 * values on and around each such edge, each a value of the source type. */
std::vector<Real> range_edges(ref::Type source) {
  std::vector<Real> values;
  if (source.letter == 'l') {
    std::vector<std::uint64_t> magnitudes = {0, 1, (1ull << 31) - 1, 1ull << 31, (1ull << 31) + 1,
                                             (1ull << 32) - 1, 1ull << 32, (1ull << 32) + 1,
                                             (1ull << 51) + 1, (1ull << 52) - 1, 1ull << 52,
                                             (1ull << 52) + 1, (1ull << 53) - 1, 1ull << 53,
                                             (1ull << 53) + 1, (1ull << 53) + 2, (1ull << 53) + 3,
                                             (1ull << 54) + 1, (1ull << 62) + 1, (1ull << 63) - 1,
                                             (1ull << 63) - 1024, (1ull << 63) - 1025, 1ull << 63,
                                             (1ull << 63) + 1, ~0ull - 1, ~0ull};
    for (std::uint64_t m : magnitudes) {
      if (source.is_unsigned) {
        values.push_back(ref::from_uint64(m));
      } else {
        if (m <= (1ull << 63) - 1) values.push_back(ref::from_int64(static_cast<std::int64_t>(m)));
        if (m != 0 && m <= (1ull << 63)) values.push_back(ref::integer(true, m));
      }
    }
    return values;
  }
  const double kTwo63 = 0x1p63, kTwo52 = 0x1p52;
  for (double d : {0.0, 0.5, 1.0, 1.5, 0x1p51 + 0.5, kTwo52 - 0.5, kTwo52, kTwo52 + 1.0, kTwo52 + 2.0,
                   0x1p53, 0x1p53 + 2.0, std::nextafter(kTwo63, 0.0), kTwo63, std::nextafter(kTwo63, 0x1p64),
                   0x1p64, 2147483647.5, 2147483648.0, 2147483648.5, 4294967294.5, 4294967295.0,
                   4294967295.5, 4294967296.0, double(std::numeric_limits<float>::max()),
                   std::nextafter(double(std::numeric_limits<float>::max()), 1e300),
                   std::numeric_limits<double>::min(), std::numeric_limits<double>::denorm_min(),
                   std::nextafter(std::numeric_limits<double>::min(), 0.0), 1e-300,
                   std::numeric_limits<double>::max(), std::numeric_limits<double>::infinity()}) {
    values.push_back(ref::from_double(d));
    values.push_back(ref::from_double(-d));
  }
  for (std::uint64_t bits : {0x7FF8000000000000ull, 0xFFF8000000000000ull, 0x7FF0000000000001ull,
                             0x7FF4000000000000ull, 0xFFFFFFFFFFFFFFFFull})
    values.push_back(ref::nan_from_bits(bits, 'd'));
  return values;
}

bool from_64_bit_source(const Row &row) {
  char letter = source_type(row).letter;
  return letter == 'l' || letter == 'd';
}

/* One value beyond an easy range among quiet ones, first, last in a block
 * of the library's, or last of all, changes that element alone and decides
 * the report; the same value throughout a block is converted the same. */
TEST(RangeEdges, OneElementBeyondAnEasyRangeAnywhereInTheBlocks) {
  constexpr std::size_t kLength = 520;
  int rows = 0;
  for (const Row &row : table()) {
    if (!from_64_bit_source(row) || std::string(row.kind) == "copy_or_rearrange") continue;
    ++rows;
    SCOPED_TRACE(row.name);
    ref::Type source = source_type(row), destination = destination_type(row);
    bool copies = ref::external_is_host_image(row.order, external_type(row));
    Real quiet = source.letter == 'l' ? ref::from_int64(1) : ref::from_double(1.0);
    ref::Outcome calm = ref::convert(row.kind, quiet, source, destination, copies);
    ASSERT_FALSE(calm.reported);
    for (const Real &edge : range_edges(source)) {
      ref::Outcome odd = ref::convert(row.kind, edge, source, destination, copies);
      for (std::size_t at : {std::size_t{0}, std::size_t{511}, kLength - 1}) {
        std::vector<Real> values(kLength, quiet);
        values[at] = edge;
        MemberRun run = run_member(row, values, 3);
        EXPECT_EQ(run.result, odd.reported ? -1 : 0) << edge.describe() << " at " << at;
        EXPECT_EQ(run.advanced, static_cast<std::ptrdiff_t>(kLength * external_type(row).width()));
        EXPECT_TRUE(run.guards_intact);
        std::size_t wrong = 0;
        for (std::size_t i = 0; i < kLength; ++i)
          wrong += !ref::identical(run.outputs[i], i == at ? odd.value : calm.value);
        EXPECT_EQ(wrong, 0u) << edge.describe() << " at " << at << ": " << run.outputs[at].describe()
                             << ", expected " << odd.value.describe();
      }
      MemberRun same = run_member(row, std::vector<Real>(kLength, edge), 0);
      EXPECT_EQ(same.result, odd.reported ? -1 : 0) << edge.describe();
      std::size_t wrong = 0;
      for (const Real &out : same.outputs) wrong += !ref::identical(out, odd.value);
      EXPECT_EQ(wrong, 0u) << edge.describe();
    }
  }
  EXPECT_GE(rows, 30);
}

/* The quick conversions compute every value, not only the edges: random
 * 64-bit integers of every magnitude and random doubles, signs mixed,
 * through each member from a 64-bit source, against the reference. */
TEST(RangeEdges, RandomValuesOfEveryMagnitude) {
  constexpr std::size_t kCount = 4000;
  std::uint64_t state = 0x243F6A8885A308D3ull;
  auto next = [&state] {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    return state;
  };
  std::vector<Real> integers, signed_integers, doubles;
  for (std::size_t i = 0; i < kCount; ++i) {
    std::uint64_t bits = next() >> (next() >> 58);  /* any magnitude */
    integers.push_back(ref::from_uint64(bits));
    signed_integers.push_back(ref::from_int64(static_cast<std::int64_t>(next() & 1 ? bits >> 1 : bits)));
    /* Doubles spread over the exponents that matter here (2^-3 .. 2^66),
     * half of them with fractions. */
    std::uint64_t image = (next() >> 12) | (std::uint64_t{1020 + next() % 67} << 52) | (next() & (1ull << 63));
    double d;
    std::memcpy(&d, &image, sizeof d);
    doubles.push_back(ref::from_double(d));
  }
  for (const Row &row : table()) {
    if (!from_64_bit_source(row) || std::string(row.kind) == "copy_or_rearrange") continue;
    SCOPED_TRACE(row.name);
    ref::Type source = source_type(row), destination = destination_type(row);
    bool copies = ref::external_is_host_image(row.order, external_type(row));
    const std::vector<Real> &values =
        source.letter == 'd' ? doubles : source.is_unsigned ? integers : signed_integers;
    MemberRun run = run_member(row, values, 1);
    bool any_reported = false;
    std::size_t wrong = 0;
    for (std::size_t i = 0; i < values.size(); ++i) {
      ref::Outcome expected = ref::convert(row.kind, values[i], source, destination, copies);
      any_reported = any_reported || expected.reported;
      if (!ref::identical(run.outputs[i], expected.value) && wrong++ < 3)
        ADD_FAILURE() << values[i].describe() << " gave " << run.outputs[i].describe() << ", expected "
                      << expected.value.describe();
    }
    EXPECT_EQ(wrong, 0u);
    EXPECT_EQ(run.result, any_reported ? -1 : 0);
  }
}

/* ---------------------------------------------------- documented examples */

/* The bytes a host-to-external member wrote, from an odd address. */
template <class H>
std::vector<unsigned char> written(int (*member)(const H *, unsigned char **, int), std::vector<H> from,
                                   int &result) {
  std::vector<unsigned char> buffer(from.size() * 8 + 2, 0xEE);
  unsigned char *start = buffer.data() + 1, *cursor = start;
  result = member(from.data(), &cursor, static_cast<int>(from.size()));
  return std::vector<unsigned char>(start, cursor);
}

template <class H>
std::vector<H> read(int (*member)(unsigned char **, H *, int), std::vector<unsigned char> bytes,
                    std::size_t count, int &result) {
  std::vector<unsigned char> buffer(bytes.size() + 1);
  std::copy(bytes.begin(), bytes.end(), buffer.begin() + 1);
  unsigned char *cursor = buffer.data() + 1;
  std::vector<H> out(count);
  result = member(&cursor, out.data(), static_cast<int>(count));
  EXPECT_EQ(cursor, buffer.data() + 1 + bytes.size());
  return out;
}

using Bytes = std::vector<unsigned char>;

template <class T>
T host_image_as(const Bytes &bytes) {
  T value;
  EXPECT_EQ(bytes.size(), sizeof value);
  std::memcpy(&value, bytes.data(), sizeof value);
  return value;
}

TEST(DocumentedExamples, SaturatingIntoBytesAndShorts) {
  int r;
  EXPECT_EQ(written(hs2ab, std::vector<short>{-129, -128, 127, 128}, r), (Bytes{0x80, 0x80, 0x7F, 0x7F}));
  EXPECT_EQ(r, -1);
  EXPECT_EQ(written(hs2ab, std::vector<short>{-128, 127}, r), (Bytes{0x80, 0x7F}));
  EXPECT_EQ(r, 0);
  EXPECT_EQ(written(uhi2as, std::vector<unsigned>{static_cast<unsigned>(-1)}, r), (Bytes{0xFF, 0xFF}));
  EXPECT_EQ(r, -1);
}

TEST(DocumentedExamples, FloatSaturatingIntoBytes) {
  struct Case {
    float x;
    unsigned char byte;
    int result;
  };
  const Case plain[] = {{126.9f, 0x7E, 0}, {127.5f, 0x7F, -1}, {-127.9f, 0x81, 0},
                        {std::numeric_limits<float>::quiet_NaN(), 0x00, 0}};
  for (const Case &c : plain) {
    int r;
    EXPECT_EQ(written(hf2ab, std::vector<float>{c.x}, r), Bytes{c.byte}) << c.x;
    EXPECT_EQ(r, c.result) << c.x;
  }
  const Case unsigned_cases[] = {{-0.5f, 0x00, -1}, {-0.0f, 0x00, 0}};
  for (const Case &c : unsigned_cases) {
    int r;
    EXPECT_EQ(written(uhf2ab, std::vector<float>{c.x}, r), Bytes{c.byte}) << c.x;
    EXPECT_EQ(r, c.result) << c.x;
  }
}

TEST(DocumentedExamples, FloatingIntoHostImageInts) {
  struct Case {
    double x;
    int stored;
    int result;
  };
  const Case to_integer[] = {{1.5, 1, -1}, {2147483648.0, 2147483647, 0}, {3.0e9, 2147483647, -1},
                             {std::nan(""), 0, -1}};
  for (const Case &c : to_integer) {
    int r;
    EXPECT_EQ(host_image_as<int>(written(hf2ai, std::vector<float>{static_cast<float>(c.x)}, r)), c.stored) << c.x;
    EXPECT_EQ(r, c.result) << c.x;
  }
  const Case float_saturate[] = {{1.5, 1, 0}, {3.0e9, 2147483647, -1}};
  for (const Case &c : float_saturate) {
    int r;
    EXPECT_EQ(host_image_as<int>(written(hd2ai, std::vector<double>{c.x}, r)), c.stored) << c.x;
    EXPECT_EQ(r, c.result) << c.x;
  }
}

TEST(DocumentedExamples, IntegersIntoFloatingWithTheExactnessCheck) {
  int r;
  Bytes image(4);
  int v = (1 << 24) + 1;
  std::memcpy(image.data(), &v, 4);
  EXPECT_EQ(read(ai2hf, image, 1, r)[0], 16777216.0f);
  EXPECT_EQ(r, -1);
  v = 2147483647;
  std::memcpy(image.data(), &v, 4);
  EXPECT_EQ(read(ai2hf, image, 1, r)[0], 2147483648.0f);
  EXPECT_EQ(r, 0);

  Bytes image8(8);
  long long w = (1LL << 53) + 1;
  std::memcpy(image8.data(), &w, 8);
  EXPECT_EQ(read(al2hd, image8, 1, r)[0], 9007199254740992.0);
  EXPECT_EQ(r, -1);
  w = std::numeric_limits<long long>::max();
  std::memcpy(image8.data(), &w, 8);
  EXPECT_EQ(read(al2hd, image8, 1, r)[0], 9223372036854775808.0);
  EXPECT_EQ(r, -1);
}

/* On a little-endian host the m members rearrange and report a NaN while
 * the a members copy it silently; on a big-endian host m copies and v
 * rearranges. */
TEST(DocumentedExamples, NaNsAreReportedOnlyWhenBytesAreRearranged) {
  int r;
  Bytes single_nan{0x7F, 0xC0, 0x00, 0x01}, double_nan{0x7F, 0xF8, 0, 0, 0, 0, 0, 1};
  const int m_single = ref::external_is_host_image('m', {'f', false}) ? 0 : -1;
  const int m_double = ref::external_is_host_image('m', {'d', false}) ? 0 : -1;
  const int v_single = ref::external_is_host_image('v', {'f', false}) ? 0 : -1;
  const int v_double = ref::external_is_host_image('v', {'d', false}) ? 0 : -1;
  EXPECT_EQ(m_single + v_single, -1); /* exactly one of them rearranges */
  EXPECT_TRUE(std::isnan(read(mf2hf, single_nan, 1, r)[0]));
  EXPECT_EQ(r, m_single);
  EXPECT_TRUE(std::isnan(read(md2hd, double_nan, 1, r)[0]));
  EXPECT_EQ(r, m_double);
  Bytes reversed_single(single_nan.rbegin(), single_nan.rend());
  Bytes reversed_double(double_nan.rbegin(), double_nan.rend());
  EXPECT_TRUE(std::isnan(read(vf2hf, reversed_single, 1, r)[0]));
  EXPECT_EQ(r, v_single);
  EXPECT_TRUE(std::isnan(read(vd2hd, reversed_double, 1, r)[0]));
  EXPECT_EQ(r, v_double);
  float f = std::numeric_limits<float>::quiet_NaN();
  double d = std::numeric_limits<double>::quiet_NaN();
  Bytes f_image(4), d_image(8);
  std::memcpy(f_image.data(), &f, 4);
  std::memcpy(d_image.data(), &d, 8);
  EXPECT_TRUE(std::isnan(read(af2hf, f_image, 1, r)[0]));
  EXPECT_EQ(r, 0);
  EXPECT_TRUE(std::isnan(read(ad2hd, d_image, 1, r)[0]));
  EXPECT_EQ(r, 0);
}

TEST(DocumentedExamples, NarrowingAndWideningFloats) {
  int r;
  written(hd2af, std::vector<double>{0.1}, r);
  EXPECT_EQ(r, -1);
  written(hd2af, std::vector<double>{0.5}, r);
  EXPECT_EQ(r, 0);
  float stored = host_image_as<float>(written(hd2af, std::vector<double>{1.0e300}, r));
  EXPECT_TRUE(std::isinf(stored) && stored > 0);
  EXPECT_EQ(r, -1);
  for (float x : {0.1f, -0.0f, std::numeric_limits<float>::infinity(), std::numeric_limits<float>::max()}) {
    Bytes image(4);
    std::memcpy(image.data(), &x, 4);
    EXPECT_EQ(read(af2hd, image, 1, r)[0], static_cast<double>(x));
    EXPECT_EQ(r, 0) << x;
  }
  float nan = std::numeric_limits<float>::quiet_NaN();
  Bytes image(4);
  std::memcpy(image.data(), &nan, 4);
  EXPECT_TRUE(std::isnan(read(af2hd, image, 1, r)[0]));
  EXPECT_EQ(r, -1);
}

TEST(DocumentedExamples, ShortsAndLongsByOrder) {
  int r;
  EXPECT_EQ(read(ms2hi, Bytes{0xFF, 0xFE}, 1, r)[0], -2);
  EXPECT_EQ(r, 0);
  EXPECT_EQ(read(ums2hi, Bytes{0xFF, 0xFE}, 1, r)[0], 65534u);
  EXPECT_EQ(r, 0);
  Bytes ascending{1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_EQ(read(ml2hl, ascending, 1, r)[0], 0x0102030405060708LL);
  EXPECT_EQ(read(vl2hl, ascending, 1, r)[0], 0x0807060504030201LL);
}

/* The worked member: host doubles to network shorts and back. */
TEST(DocumentedExamples, HostDoublesToNetworkShorts) {
  int r;
  EXPECT_EQ(written(hd2ms, std::vector<double>{-40000.0, 40000.0, 1.9, -1.9, -32768.0, 32767.0}, r),
            (Bytes{0x80, 0x00, 0x7F, 0xFF, 0x00, 0x01, 0xFF, 0xFF, 0x80, 0x00, 0x7F, 0xFF}));
  EXPECT_EQ(r, -1);
  EXPECT_EQ(written(hd2ms, std::vector<double>{-32767.9, 32766.9, 258.5}, r),
            (Bytes{0x80, 0x01, 0x7F, 0xFE, 0x01, 0x02}));
  EXPECT_EQ(r, 0);
  EXPECT_EQ(written(uhd2ms, std::vector<double>{-1.0, 70000.0, 65535.0}, r),
            (Bytes{0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(r, -1);
  EXPECT_EQ(read(ms2hd, Bytes{0x80, 0x00, 0x7F, 0xFF, 0xFF, 0xFE}, 3, r),
            (std::vector<double>{-32768.0, 32767.0, -2.0}));
  EXPECT_EQ(r, 0);
}

/* ------------------------------------------------------ cursors and buffers */

TEST(Cursors, ConsecutiveCallsPackAndUnpackARecord) {
  struct Record {
    short id;
    double position[3];
    signed char flag;
    unsigned int count;
    float weight;
  };
  const Record in{-12, {1.5, -2.25, 1e10}, -3, 4000000000u, 0.75f};
  unsigned char buffer[64];
  for (char order : {'m', 'v', 'a'}) {
    SCOPED_TRACE(order);
    unsigned char *cursor = buffer + 1;
    int r = 0;
    if (order == 'm') {
      r |= hs2ms(&in.id, &cursor, 1) | hd2md(in.position, &cursor, 3) | hb2mb(&in.flag, &cursor, 1) |
           uhi2mi(&in.count, &cursor, 1) | hf2mf(&in.weight, &cursor, 1);
    } else if (order == 'v') {
      r |= hs2vs(&in.id, &cursor, 1) | hd2vd(in.position, &cursor, 3) | hb2vb(&in.flag, &cursor, 1) |
           uhi2vi(&in.count, &cursor, 1) | hf2vf(&in.weight, &cursor, 1);
    } else {
      r |= hs2as(&in.id, &cursor, 1) | hd2ad(in.position, &cursor, 3) | hb2ab(&in.flag, &cursor, 1) |
           uhi2ai(&in.count, &cursor, 1) | hf2af(&in.weight, &cursor, 1);
    }
    EXPECT_EQ(r, 0);
    EXPECT_EQ(cursor - (buffer + 1), 2 + 24 + 1 + 4 + 4);
    if (order == 'm') {
      EXPECT_EQ(buffer[1], 0xFF);
      EXPECT_EQ(buffer[2], 0xF4);
      EXPECT_EQ(buffer[3], 0x3F); /* 1.5: 3F F8 00 ... */
      EXPECT_EQ(buffer[4], 0xF8);
    }
    Record out{};
    cursor = buffer + 1;
    if (order == 'm') {
      r |= ms2hs(&cursor, &out.id, 1) | md2hd(&cursor, out.position, 3) | mb2hb(&cursor, &out.flag, 1) |
           umi2hi(&cursor, &out.count, 1) | mf2hf(&cursor, &out.weight, 1);
    } else if (order == 'v') {
      r |= vs2hs(&cursor, &out.id, 1) | vd2hd(&cursor, out.position, 3) | vb2hb(&cursor, &out.flag, 1) |
           uvi2hi(&cursor, &out.count, 1) | vf2hf(&cursor, &out.weight, 1);
    } else {
      r |= as2hs(&cursor, &out.id, 1) | ad2hd(&cursor, out.position, 3) | ab2hb(&cursor, &out.flag, 1) |
           uai2hi(&cursor, &out.count, 1) | af2hf(&cursor, &out.weight, 1);
    }
    EXPECT_EQ(r, 0);
    EXPECT_EQ(cursor - (buffer + 1), 35);
    EXPECT_EQ(out.id, in.id);
    EXPECT_EQ(out.position[0], in.position[0]);
    EXPECT_EQ(out.position[1], in.position[1]);
    EXPECT_EQ(out.position[2], in.position[2]);
    EXPECT_EQ(out.flag, in.flag);
    EXPECT_EQ(out.count, in.count);
    EXPECT_EQ(out.weight, in.weight);
  }
}

/* Same-width members may convert a buffer onto itself, copies included. */
TEST(Cursors, SameWidthMembersConvertInPlace) {
  int values[5] = {1, -2, 0x01020304, 2147483647, -2147483647 - 1};
  alignas(8) unsigned char buffer[20];
  std::memcpy(buffer, values, sizeof values);
  unsigned char *cursor = buffer;
  EXPECT_EQ(hi2mi(reinterpret_cast<int *>(buffer), &cursor, 5), 0);
  EXPECT_EQ(buffer[8], 0x01);
  EXPECT_EQ(buffer[11], 0x04);
  cursor = buffer;
  EXPECT_EQ(mi2hi(&cursor, reinterpret_cast<int *>(buffer), 5), 0);
  EXPECT_EQ(std::memcmp(buffer, values, sizeof values), 0);
  cursor = buffer;
  EXPECT_EQ(ai2hi(&cursor, reinterpret_cast<int *>(buffer), 5), 0);
  EXPECT_EQ(std::memcmp(buffer, values, sizeof values), 0);
}

/* Any member may run on any thread at once with any other. */
TEST(ByteorderThreads, MembersRunConcurrentlyWithoutSharedState) {
  std::vector<double> input(4096);
  for (std::size_t i = 0; i < input.size(); ++i) input[i] = (static_cast<double>(i) - 2048.0) * 37.3;
  std::vector<unsigned char> expected(input.size() * 2);
  unsigned char *cursor = expected.data();
  int expected_result = hd2ms(input.data(), &cursor, static_cast<int>(input.size()));
  std::vector<std::thread> threads;
  std::vector<int> failures(4, 0);
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      std::vector<unsigned char> out(input.size() * 2);
      for (int round = 0; round < 20; ++round) {
        unsigned char *c = out.data();
        int r = hd2ms(input.data(), &c, static_cast<int>(input.size()));
        if (r != expected_result || out != expected) ++failures[static_cast<std::size_t>(t)];
      }
    });
  for (auto &thread : threads) thread.join();
  EXPECT_EQ(failures, std::vector<int>(4, 0));
}

/* ------------------------------------------------------------------ swaps */

TEST(Swap, ReversesEachElement) {
  const unsigned char bytes[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
  unsigned char out[9];
  std::memset(out, 0, sizeof out);
  swap4(bytes, out, 2);
  EXPECT_EQ(Bytes(out, out + 9), (Bytes{4, 3, 2, 1, 8, 7, 6, 5, 0}));
  std::memset(out, 0, sizeof out);
  swap8(bytes, out, 1);
  EXPECT_EQ(Bytes(out, out + 9), (Bytes{8, 7, 6, 5, 4, 3, 2, 1, 0}));
  std::memset(out, 0, sizeof out);
  swap2(bytes, out, 4);
  EXPECT_EQ(Bytes(out, out + 9), (Bytes{2, 1, 4, 3, 6, 5, 8, 7, 0}));
}

TEST(Swap, InPlaceUnalignedAndEmpty) {
  using SwapFn = void (*)(const void *, void *, int);
  struct Case {
    SwapFn swap;
    std::size_t size;
  };
  for (Case c : {Case{swap2, 2}, Case{swap4, 4}, Case{swap8, 8}}) {
    SCOPED_TRACE(c.size);
    unsigned char original[1 + 8 * 3 + 1];
    for (std::size_t i = 0; i < sizeof original; ++i) original[i] = static_cast<unsigned char>(i * 7 + 1);
    unsigned char buffer[sizeof original];
    std::memcpy(buffer, original, sizeof buffer);
    c.swap(buffer + 1, buffer + 1, 3); /* odd address, in place */
    for (std::size_t e = 0; e < 3; ++e)
      for (std::size_t k = 0; k < c.size; ++k)
        EXPECT_EQ(buffer[1 + e * c.size + k], original[1 + e * c.size + c.size - 1 - k]);
    EXPECT_EQ(buffer[0], original[0]);
    EXPECT_EQ(buffer[1 + 3 * c.size], original[1 + 3 * c.size]);
    c.swap(buffer + 1, buffer + 1, 3);
    EXPECT_EQ(std::memcmp(buffer, original, sizeof buffer), 0);
    for (int n : {0, -1, std::numeric_limits<int>::min()}) {
      c.swap(buffer + 1, buffer + 1, n);
      c.swap(original, buffer, n);
      EXPECT_EQ(std::memcmp(buffer, original, sizeof buffer), 0) << n;
    }
  }
}

TEST(Swap, UsedToReverseAColourMask) {
  std::uint32_t mask = 0x00FF0000u, reversed = 0;
  swap4(&mask, &reversed, 1);
  EXPECT_EQ(reversed, 0x0000FF00u);
}

}  // namespace
