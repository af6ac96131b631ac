// files_scan_test.cc - the block-at-a-time line scanners against a byte-by-
// byte reading of the same data, on data placed against inaccessible pages
// so that a read past the aligned blocks around the data, or into a page the
// line does not reach, faults.

#include <stdint.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <random>
#include <span>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/files/line_scan.h"

namespace {

using namespace tkpixmap::files;

// One readable page between two inaccessible ones.
class GuardedPage {
 public:
  GuardedPage() {
    pageSize_ = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    void *area = mmap(nullptr, 3 * pageSize_, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    EXPECT_NE(area, MAP_FAILED);
    area_ = static_cast<char *>(area);
    EXPECT_EQ(mprotect(area_ + pageSize_, pageSize_, PROT_READ | PROT_WRITE), 0);
  }
  ~GuardedPage() { munmap(area_, 3 * pageSize_); }
  char *begin() const { return area_ + pageSize_; }
  char *end() const { return area_ + 2 * pageSize_; }

 private:
  size_t pageSize_;
  char *area_;
};

size_t naiveLineEnd(const char *start, size_t limit) {
  size_t n = 0;
  while (n < limit && start[n] != '\n' && start[n] != '\0') ++n;
  return n;
}

// Bytes that look like the terminators to a careless bit trick: 0x8a is a
// newline with the top bit set, 0x80 a zero with it, 0x0b and 0x09 differ
// from a newline in one bit.
const char kAlphabet[] = {'a', 'Z', '\n', '\0', '\x8a', '\x80', '\xff', '\x0b', '\x09', '\x01'};

struct Placement {
  const char *name;
  bool againstEnd;  // data ends on the page's last byte; else starts on its first
};

TEST(LineScan, BlockScannersAgreeWithAByteLoopAtPageEdges) {
  GuardedPage page;
  std::mt19937 random(12345);
  const Placement placements[] = {{"data against the next page", true},
                                  {"data against the previous page", false}};
  for (const Placement &placement : placements) {
    SCOPED_TRACE(placement.name);
    for (size_t size = 1; size <= 150; ++size) {
      char *data = placement.againstEnd ? page.end() - size : page.begin();
      // Sparse terminators give long lines, dense ones short lines.
      const int density = size % 3 == 0 ? 40 : 4;
      for (size_t i = 0; i < size; ++i) {
        data[i] = random() % density == 0 ? kAlphabet[2 + random() % 2]
                                          : kAlphabet[random() % sizeof kAlphabet];
      }
      for (size_t position = 0; position < size; ++position) {
        const char *start = data + position;
        for (size_t limit : {size - position, size_t{1}, size_t{15}, size_t{16}, size_t{17},
                             size_t{31}, size_t{64}}) {
          if (limit > size - position) continue;
          const size_t expected = naiveLineEnd(start, limit);
          ASSERT_EQ(findLineEndByWords(start, limit), expected) << size << " " << position;
#if defined(__SSE2__)
          ASSERT_EQ(findLineEndBySse2(start, limit), expected) << size << " " << position;
#endif
          ASSERT_EQ(findLineEnd(start, limit), expected);

          std::vector<char> out(limit + 32, '#');
          ASSERT_EQ(copyLineBytes(out.data(), start, limit), expected);
          ASSERT_EQ(memcmp(out.data(), start, expected), 0);
          for (size_t k = expected; k < out.size(); ++k)
            ASSERT_EQ(out[k], '#') << "written past the line at " << k;
        }
      }
    }
  }
}

TEST(LineScan, LongRunsWithoutTerminators) {
  GuardedPage page;
  const size_t size = 4000;
  char *data = page.end() - size;
  memset(data, 'x', size);
  std::vector<char> out(size + 16, '#');
  for (size_t cut : {size_t{0}, size_t{1}, size_t{1000}, size - 17, size - 1}) {
    SCOPED_TRACE(cut);
    data[cut] = '\n';
    EXPECT_EQ(findLineEnd(data, size), cut);
    EXPECT_EQ(findLineEndByWords(data, size), cut);
    EXPECT_EQ(copyLineBytes(out.data(), data, size), cut);
    data[cut] = 'x';
  }
  EXPECT_EQ(findLineEnd(data, size), size);
  EXPECT_EQ(findLineEndByWords(data + 3, size - 3), size - 3);
  EXPECT_EQ(copyLineBytes(out.data(), data + 5, size - 5), size - 5);
  EXPECT_EQ(std::string(out.data(), size - 5), std::string(size - 5, 'x'));
  EXPECT_EQ(findLineEnd(data, 0), 0u);
  EXPECT_EQ(findLineEndByWords(data, 0), 0u);
}

// Lines read through the 128-byte scan block and past it: every length from
// 0 to 300 at start offsets all over a page, with limits that let the block
// be used, that just refuse it and that cut the line, held against the byte
// loop; nothing may be written past the line.
TEST(LineScan, ScanBlockCopyAgreesWithAByteLoop) {
  GuardedPage page;
  const size_t pageSize = static_cast<size_t>(page.end() - page.begin());
  std::mt19937 random(2024);
  for (char &byte : std::span<char>(page.begin(), pageSize))
    byte = static_cast<char>('a' + random() % 26);
  std::vector<char> out(pageSize + 32);
  for (size_t start = 0; start < pageSize; start += 7) {
    const size_t length = (start * 31) % 301;
    const char terminator = start % 5 == 0 ? '\0' : '\n';
    const bool terminated = start + length < pageSize;
    if (terminated) page.begin()[start + length] = terminator;
    for (size_t limit : {pageSize - start, size_t{127}, size_t{128}, size_t{129}, length,
                         length + 1, size_t{300}}) {
      if (limit > pageSize - start) continue;
      SCOPED_TRACE(testing::Message() << "start " << start << " length " << length << " limit "
                                      << limit);
      const char *line = page.begin() + start;
      std::fill(out.begin(), out.end(), '#');
      const size_t expected = naiveLineEnd(line, limit);
      ASSERT_EQ(copyLineBytes(out.data(), line, limit), expected);
      ASSERT_EQ(memcmp(out.data(), line, expected), 0);
      for (size_t k = expected; k < out.size(); ++k)
        ASSERT_EQ(out[k], '#') << "written past the line at " << k;
      // The scan block copies, each where the processor has it, copy the
      // same bytes (the baseline one is the word scanner's on hosts without
      // SSE2).
      struct ScanBlockCopyRow {
        const char *name;
        ScanBlockCopy copy;
        bool available;
      };
      const ScanBlockCopyRow scanBlockCopies[] = {
          {"baseline", copyLineInScanBlock, true},
#if defined(TKPIXMAP_AVX2_BUILDS)
          {"AVX2", copyLineInScanBlockAvx2, tkpixmap::processorHasAvx2},
#endif
      };
      for (const ScanBlockCopyRow &row : scanBlockCopies) {
        if (limit < kScanBlock || pageSize - start < kScanBlock || !row.available) continue;
        std::fill(out.begin(), out.end(), '#');
        const size_t inBlock = std::min(naiveLineEnd(line, kScanBlock), kScanBlock);
        ASSERT_EQ(row.copy(out.data(), line), inBlock) << row.name;
        ASSERT_EQ(memcmp(out.data(), line, inBlock), 0) << row.name;
        for (size_t k = inBlock; k < out.size(); ++k)
          ASSERT_EQ(out[k], '#') << row.name << " scan block written past the line at " << k;
      }
    }
    if (terminated) page.begin()[start + length] = static_cast<char>('a' + random() % 26);
  }
}

// A line that ends before its page does must be read without touching the
// next page even when the limit says the data goes on: neither the scan
// block nor the sixteen-byte loop that takes over where the block does not
// fit may reach past the page.
TEST(LineScan, ScanBlockDoesNotReachIntoTheNextPage) {
  GuardedPage page;
  const size_t pageSize = static_cast<size_t>(page.end() - page.begin());
  ASSERT_EQ(pageSize % 4096, 0u);
  memset(page.begin(), 'x', pageSize);
  std::vector<char> out(512, '#');
  struct Case {
    size_t fromEnd;     // start of the line, counted back from the page's end
    size_t lineLength;  // bytes before its newline
  };
  const Case cases[] = {{128, 0}, {128, 100}, {128, 127}, {127, 0}, {127, 100}, {127, 126},
                        {96, 50}, {64, 47},   {64, 63},   {32, 15}, {32, 31},   {17, 16},
                        {16, 0},  {16, 15},   {15, 3},    {1, 0}};
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << c.fromEnd << " from the end, " << c.lineLength);
    const char *line = page.end() - c.fromEnd;
    page.end()[-static_cast<ptrdiff_t>(c.fromEnd - c.lineLength)] = '\n';
    // Claims 300 bytes, of which those past the page would fault.
    EXPECT_EQ(copyLineBytes(out.data(), line, 300), c.lineLength);
    EXPECT_EQ(memcmp(out.data(), line, c.lineLength), 0);
    page.end()[-static_cast<ptrdiff_t>(c.fromEnd - c.lineLength)] = 'x';
  }
}

}  // namespace
