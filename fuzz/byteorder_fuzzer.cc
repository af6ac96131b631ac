// byteorder_fuzzer.cc - libFuzzer target for the typed byte-order
// conversion routines, held against the independent reference model of the
// unit tests.  The input picks a routine from the table the library is built
// from, an alignment for each side and the raw bytes of the source elements
// (any bit pattern: NaN payloads, subnormals, limits); the routine's values,
// its report, how far it moves the cursor and the bytes around both arrays
// must all be what the model says.

#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <fuzzer/FuzzedDataProvider.h>

#include <string>
#include <vector>

#include "byteorder.h"
#include "tests/support/byteorder_reference.h"

namespace {

namespace ref = tkpixmap::test::byteorder_reference;

using ToHostFn = int (*)(unsigned char **cursor, void *to, int n);
using ToExternalFn = int (*)(const void *from, unsigned char **cursor, int n);

struct Row {
  const char *name, *order, *external, *host, *sign, *kind;
  bool toHost;
  ToHostFn toHostFn;
  ToExternalFn toExternalFn;
};

// The C type behind each letter, as callers declare their arrays.
#define FUZZ_CTYPE_plain_b signed char
#define FUZZ_CTYPE_u_b unsigned char
#define FUZZ_CTYPE_plain_s short
#define FUZZ_CTYPE_u_s unsigned short
#define FUZZ_CTYPE_plain_i int
#define FUZZ_CTYPE_u_i unsigned int
#define FUZZ_CTYPE_plain_l long long
#define FUZZ_CTYPE_u_l unsigned long long
#define FUZZ_CTYPE_plain_f float
#define FUZZ_CTYPE_u_f float
#define FUZZ_CTYPE_plain_d double
#define FUZZ_CTYPE_u_d double
#define FUZZ_CTYPE(sign, host) FUZZ_CTYPE_##sign##_##host

#define FUZZ_CALLS_to_host(name, host, sign)                         \
  true,                                                              \
      [](unsigned char **c, void *to, int n) {                       \
        return name(c, static_cast<FUZZ_CTYPE(sign, host) *>(to), n); \
      },                                                             \
      nullptr
#define FUZZ_CALLS_to_external(name, host, sign)                                 \
  false, nullptr, [](const void *from, unsigned char **c, int n) {               \
    return name(static_cast<const FUZZ_CTYPE(sign, host) *>(from), c, n);        \
  }

const Row kRows[] = {
#define TKP_CONVERSION(name, order, ext, host, direction, sign, kind) \
  {#name, #order, #ext, #host, #sign, #kind, FUZZ_CALLS_##direction(name, host, sign)},
#include "base/byteorder/conversions.def"
#undef TKP_CONVERSION
};
constexpr size_t kRowCount = sizeof kRows / sizeof kRows[0];

bool isIntegerLetter(char c) { return c == 'b' || c == 's' || c == 'i' || c == 'l'; }

constexpr unsigned char kGuard = 0xA5;
constexpr size_t kSlack = 16;     // guard bytes on each side of both arrays
constexpr int kMaxElements = 64;  // long enough for every blocked path

bool guardsIntact(const std::vector<unsigned char> &bytes, size_t from, size_t to) {
  for (size_t i = 0; i < bytes.size(); ++i)
    if ((i < from || i >= to) && bytes[i] != kGuard) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzedDataProvider provider(data, size);
  const Row &row = kRows[provider.ConsumeIntegralInRange<size_t>(0, kRowCount - 1)];
  const bool isUnsigned = row.sign[0] == 'u';
  const ref::Type externalType{row.external[0], isUnsigned && isIntegerLetter(row.external[0])};
  const ref::Type hostType{row.host[0], isUnsigned && isIntegerLetter(row.host[0])};
  const ref::Type source = row.toHost ? externalType : hostType;
  const ref::Type destination = row.toHost ? hostType : externalType;
  const size_t externalOffset = provider.ConsumeIntegralInRange<size_t>(0, 7);
  // Host arrays are aligned for their type, as a C caller's would be.
  const size_t hostOffset = hostType.width() * provider.ConsumeIntegralInRange<size_t>(0, 2);

  std::vector<uint8_t> elements = provider.ConsumeRemainingBytes<uint8_t>();
  const int n = static_cast<int>(elements.size() / source.width() < size_t{kMaxElements}
                                     ? elements.size() / source.width()
                                     : size_t{kMaxElements});
  const size_t count = static_cast<size_t>(n);

  // Both arrays inside guarded storage; 8-byte aligned bases.
  const size_t externalBytes = count * externalType.width(), hostBytes = count * hostType.width();
  std::vector<uint64_t> externalStorage((kSlack + externalOffset + externalBytes + kSlack) / 8 + 1);
  std::vector<uint64_t> hostStorage((kSlack + hostOffset + hostBytes + kSlack) / 8 + 1);
  auto *externalBase = reinterpret_cast<unsigned char *>(externalStorage.data());
  auto *hostBase = reinterpret_cast<unsigned char *>(hostStorage.data());
  memset(externalBase, kGuard, externalStorage.size() * 8);
  memset(hostBase, kGuard, hostStorage.size() * 8);
  unsigned char *externalArray = externalBase + kSlack + externalOffset;
  unsigned char *hostArray = hostBase + kSlack + hostOffset;
  unsigned char *sourceArray = row.toHost ? externalArray : hostArray;
  if (count > 0) memcpy(sourceArray, elements.data(), count * source.width());

  // What the model expects, from the source bytes as they stand.
  const bool copies = ref::external_is_host_image(row.order[0], externalType);
  const std::string kind = row.kind;
  std::vector<ref::Outcome> expected;
  bool anyReported = false;
  for (size_t i = 0; i < count; ++i) {
    ref::Real value = ref::decode(sourceArray + i * source.width(), source,
                                  row.toHost ? row.order[0] : 'h');
    expected.push_back(ref::convert(kind, value, source, destination, copies));
    anyReported = anyReported || expected.back().reported;
  }
  std::vector<unsigned char> sourceBefore(sourceArray, sourceArray + count * source.width());

  unsigned char *cursor = externalArray;
  const int result = row.toHost ? row.toHostFn(&cursor, hostArray, n)
                                : row.toExternalFn(hostArray, &cursor, n);

  if (result != (anyReported ? -1 : 0)) abort();
  if (cursor != externalArray + externalBytes) abort();
  // The source is left as it was, and nothing outside the destination moved.
  if (count > 0 && memcmp(sourceArray, sourceBefore.data(), sourceBefore.size()) != 0) abort();
  std::vector<unsigned char> externalAll(externalBase, externalBase + externalStorage.size() * 8);
  std::vector<unsigned char> hostAll(hostBase, hostBase + hostStorage.size() * 8);
  const size_t externalStart = kSlack + externalOffset, hostStart = kSlack + hostOffset;
  if (!guardsIntact(externalAll, externalStart, externalStart + externalBytes)) abort();
  if (!guardsIntact(hostAll, hostStart, hostStart + hostBytes)) abort();
  for (size_t i = 0; i < count; ++i) {
    const ref::Real got =
        row.toHost ? ref::decode(hostArray + i * hostType.width(), hostType, 'h')
                   : ref::decode(externalArray + i * externalType.width(), externalType,
                                 row.order[0]);
    if (!ref::identical(got, expected[i].value)) abort();
  }
  return 0;
}
