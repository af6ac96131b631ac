// line_scan.h - finding where a line ends in the read buffer: the first
// newline or zero byte, looked for a whole block at a time instead of byte
// by byte, and the copy of the line out of the buffer.
//
// The scanners read the aligned blocks that hold the range they are given:
// up to 15 bytes before its start and up to 15 after its end.  The read
// buffer (read_buffer.h) starts on a kScanAlignment boundary and keeps
// kReadBufferSlack defined bytes after its data, so those blocks are always
// inside it.
//
// The copy first looks at a whole scan block of 128 bytes, which holds most
// lines of text: the end of the line is then found without a loop whose
// exit the processor would mispredict once a line.
//
// Besides, no scanner reads into a 4096-byte page that the line does not
// reach, even when `limit` goes further: the scanners stay correct over
// memory that ends at any page, which the tests check against guard pages.
// The read buffer does not need this; it costs a compare per line.
#ifndef TKPIXMAP_BASE_FILES_LINE_SCAN_H
#define TKPIXMAP_BASE_FILES_LINE_SCAN_H

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <bit>

#include "base/cpu_features.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(TKPIXMAP_AVX2_BUILDS)
#include <immintrin.h>
#endif

namespace tkpixmap::files {

// The alignment of the blocks the scanners read whole.
#if defined(__SSE2__)
constexpr size_t kScanAlignment = 16;
#else
constexpr size_t kScanAlignment = sizeof(uintptr_t);
#endif

// Word-at-a-time scan, for any host.  Byte order decides which end of a
// word holds the lowest address.
inline size_t findLineEndByWords(const char *start, size_t limit) {
  using Word = uintptr_t;
  constexpr Word ones = ~Word{0} / 0xFF;
  constexpr Word low7 = ones * 0x7F;
  constexpr Word newlines = ones * '\n';
  constexpr bool little = std::endian::native == std::endian::little;
  // 0x80 in exactly the bytes of x that are zero (no borrow between bytes,
  // so no false marks after a true one whatever the byte order).
  auto zeroBytes = [](Word x) { return ~(((x & low7) + low7) | x | low7); };
  auto marks = [&](const char *block) {
    Word word;
    memcpy(&word, block, sizeof word);
    return zeroBytes(word) | zeroBytes(word ^ newlines);
  };
  auto firstMarked = [](Word m) {
    return static_cast<size_t>(little ? std::countr_zero(m) : std::countl_zero(m)) / 8;
  };

  if (limit == 0) return 0;
  const size_t skip = reinterpret_cast<uintptr_t>(start) % sizeof(Word);
  const char *block = start - skip;
  const char *end = start + limit;
  Word m = marks(block) & (little ? ~Word{0} << (skip * 8) : ~Word{0} >> (skip * 8));
  for (;;) {
    if (m != 0) {
      size_t at = static_cast<size_t>(block + firstMarked(m) - start);
      return at < limit ? at : limit;
    }
    block += sizeof(Word);
    if (block >= end) return limit;
    m = marks(block);
  }
}

#if defined(__SSE2__)
// Sixteen bytes at a time where the host has SSE2 (every x86-64).
inline size_t findLineEndBySse2(const char *start, size_t limit) {
  if (limit == 0) return 0;
  const __m128i newlines = _mm_set1_epi8('\n');
  const __m128i zeros = _mm_setzero_si128();
  auto marks = [&](const char *block) {
    __m128i bytes = _mm_load_si128(reinterpret_cast<const __m128i *>(block));
    return static_cast<unsigned>(_mm_movemask_epi8(
        _mm_or_si128(_mm_cmpeq_epi8(bytes, newlines), _mm_cmpeq_epi8(bytes, zeros))));
  };
  const size_t skip = reinterpret_cast<uintptr_t>(start) % 16;
  const char *block = start - skip;
  const char *end = start + limit;
  unsigned m = marks(block) & (~0u << skip);
  for (;;) {
    if (m != 0) {
      size_t at = static_cast<size_t>(block + std::countr_zero(m) - start);
      return at < limit ? at : limit;
    }
    block += 16;
    if (block >= end) return limit;
    m = marks(block);
  }
}
#endif

// Index of the first newline or zero byte among the `limit` bytes at start,
// or `limit` when there is none.
inline size_t findLineEnd(const char *start, size_t limit) {
#if defined(__SSE2__)
  return findLineEndBySse2(start, limit);
#else
  return findLineEndByWords(start, limit);
#endif
}

// Copies n bytes, fewer than 16, with at most two overlapping moves: a
// variable-length memcpy of a few bytes compiles to a string move whose
// start-up costs more than the copy.
inline void copyFewBytes(char *out, const char *in, size_t n) {
  if (n >= 8) {
    uint64_t head, tail;
    memcpy(&head, in, 8);
    memcpy(&tail, in + n - 8, 8);
    memcpy(out, &head, 8);
    memcpy(out + n - 8, &tail, 8);
  } else if (n >= 4) {
    uint32_t head, tail;
    memcpy(&head, in, 4);
    memcpy(&tail, in + n - 4, 4);
    memcpy(out, &head, 4);
    memcpy(out + n - 4, &tail, 4);
  } else if (n > 0) {
    out[0] = in[0];
    out[n / 2] = in[n / 2];
    out[n - 1] = in[n - 1];
  }
}

// How many bytes the vector scanners look at in one go: the scan block.
constexpr size_t kScanBlock = 128;

#if defined(__SSE2__)
constexpr uintptr_t kPage = 4096;  // no page is smaller

// Whether the scan block at `start` may be read: all of it within the
// `limit` bytes of the line's range, and within one page.
inline bool scanBlockFits(const char *start, size_t limit) {
  return limit >= kScanBlock && reinterpret_cast<uintptr_t>(start) % kPage <= kPage - kScanBlock;
}

// The newline and zero bytes among the 16 at p, one bit each.  A byte is
// one of the two when the smaller of it and its xor with a newline is 0.
inline uint64_t lineEndMarks16(const char *p) {
  const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
  const __m128i least = _mm_min_epu8(bytes, _mm_xor_si128(bytes, _mm_set1_epi8('\n')));
  return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(least, _mm_setzero_si128())));
}

// Copies the line at `start` when it ends within the scan block, whose
// bytes must all belong to the line's range (scanBlockFits), and returns its
// length; returns kScanBlock, having copied the whole block, when the line
// goes on past it.  Nothing is written past the line.
inline size_t copyLineInScanBlock(char *out, const char *start) {
  const uint64_t low = lineEndMarks16(start) | lineEndMarks16(start + 16) << 16 |
                       lineEndMarks16(start + 32) << 32 | lineEndMarks16(start + 48) << 48;
  const uint64_t high = lineEndMarks16(start + 64) | lineEndMarks16(start + 80) << 16 |
                        lineEndMarks16(start + 96) << 32 | lineEndMarks16(start + 112) << 48;
  if ((low | high) == 0) {
    for (size_t at = 0; at < kScanBlock; at += 16)
      _mm_storeu_si128(reinterpret_cast<__m128i *>(out + at),
                       _mm_loadu_si128(reinterpret_cast<const __m128i *>(start + at)));
    return kScanBlock;
  }
  // The first mark of the 128, found by arithmetic rather than by a branch
  // on which half holds it, which would go either way from line to line.
  const uint64_t inHigh = 0 - static_cast<uint64_t>(low == 0);
  const uint64_t marks = low | (high & inHigh);  // not 0
  const size_t length = static_cast<size_t>(__builtin_ctzll(marks)) + (64 & inHigh);
  if (length >= 16) {
    // Eight blocks, each moved back as far as needed to end within the
    // line: the same stores whatever the length, so no branch on it.
    for (size_t block = 0; block < kScanBlock; block += 16) {
      const size_t at = block < length - 16 ? block : length - 16;
      _mm_storeu_si128(reinterpret_cast<__m128i *>(out + at),
                       _mm_loadu_si128(reinterpret_cast<const __m128i *>(start + at)));
    }
  } else {
    copyFewBytes(out, start, length);
  }
  return length;
}

#if defined(TKPIXMAP_AVX2_BUILDS)
// The newline and zero bytes among the 32 at p, one bit each.
[[gnu::target("avx2")]] inline uint64_t lineEndMarks32(const char *p) {
  const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
  const __m256i least = _mm256_min_epu8(bytes, _mm256_xor_si256(bytes, _mm256_set1_epi8('\n')));
  return static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(least, _mm256_setzero_si256())));
}

// copyLineInScanBlock, 32 bytes at a time: half the instructions per line,
// where the processor has AVX2.
[[gnu::target("avx2")]] inline size_t copyLineInScanBlockAvx2(char *out, const char *start) {
  const uint64_t low = lineEndMarks32(start) | lineEndMarks32(start + 32) << 32;
  const uint64_t high = lineEndMarks32(start + 64) | lineEndMarks32(start + 96) << 32;
  if ((low | high) == 0) {
    for (size_t at = 0; at < kScanBlock; at += 32)
      _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + at),
                          _mm256_loadu_si256(reinterpret_cast<const __m256i *>(start + at)));
    return kScanBlock;
  }
  const uint64_t inHigh = 0 - static_cast<uint64_t>(low == 0);
  const uint64_t marks = low | (high & inHigh);  // not 0
  const size_t length = static_cast<size_t>(__builtin_ctzll(marks)) + (64 & inHigh);
  if (length >= 32) {
    // Four blocks, each moved back as far as needed to end within the line.
    for (size_t block = 0; block < kScanBlock; block += 32) {
      const size_t at = block < length - 32 ? block : length - 32;
      _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + at),
                          _mm256_loadu_si256(reinterpret_cast<const __m256i *>(start + at)));
    }
  } else if (length >= 16) {
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out),
                     _mm_loadu_si128(reinterpret_cast<const __m128i *>(start)));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out + length - 16),
                     _mm_loadu_si128(reinterpret_cast<const __m128i *>(start + length - 16)));
  } else {
    copyFewBytes(out, start, length);
  }
  return length;
}
#endif

// copyLineBytes for a line whose first `done` bytes are copied and hold no
// newline or zero byte: sixteen bytes at a time, with unaligned loads while
// all sixteen belong to the range and lie in a page the line reaches.  Kept
// out of line so that the short lines' path stays small.
[[gnu::noinline]] inline size_t copyLineBytesFrom(char *out, const char *start, size_t limit,
                                                   size_t done) {
  const __m128i newlines = _mm_set1_epi8('\n');
  const __m128i zeros = _mm_setzero_si128();
  while (limit - done >= 16) {
    const size_t toPageEnd = kPage - reinterpret_cast<uintptr_t>(start + done) % kPage;
    if (toPageEnd < 16) {
      // Sixteen bytes from here would reach into the next page, which the
      // line need not reach: the bytes up to the page's end are looked at
      // through their aligned block.
      const size_t part = toPageEnd < limit - done ? toPageEnd : limit - done;
      const size_t found = findLineEndBySse2(start + done, part);
      copyFewBytes(out + done, start + done, found);
      done += found;
      if (found < part || done == limit) return done;
      continue;
    }
    __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(start + done));
    unsigned m = static_cast<unsigned>(_mm_movemask_epi8(
        _mm_or_si128(_mm_cmpeq_epi8(bytes, newlines), _mm_cmpeq_epi8(bytes, zeros))));
    if (m != 0) {
      const size_t length = done + static_cast<size_t>(std::countr_zero(m));
      if (length >= 16) {
        // The last sixteen bytes of the line, overlapping what is written.
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + length - 16),
                         _mm_loadu_si128(reinterpret_cast<const __m128i *>(start + length - 16)));
      } else {
        copyFewBytes(out, start, length);
      }
      return length;
    }
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out + done), bytes);
    done += 16;
  }
  // Fewer than sixteen bytes are left: finish with the aligned blocks that
  // hold them, each on the page of a byte that the line reaches.
  const size_t length = done + findLineEndBySse2(start + done, limit - done);
  memcpy(out + done, start + done, length - done);
  return length;
}
#else
// copyLineInScanBlock for hosts without SSE2: the word scanner over the
// block, then one copy.
inline size_t copyLineInScanBlock(char *out, const char *start) {
  const size_t length = findLineEndByWords(start, kScanBlock);
  memcpy(out, start, length);
  return length;
}
#endif

// Copies the line at `start` into `out` and returns its length: the bytes
// before the first newline or zero byte among the `limit` at start (all of
// them when there is none).  `out` has room for `limit` bytes; nothing is
// written past the line.
inline size_t copyLineBytes(char *out, const char *start, size_t limit) {
#if defined(__SSE2__)
  if (!scanBlockFits(start, limit)) return copyLineBytesFrom(out, start, limit, 0);
  const size_t length = copyLineInScanBlock(out, start);
  if (length < kScanBlock) return length;
  return copyLineBytesFrom(out, start, limit, kScanBlock);
#else
  const size_t length = findLineEndByWords(start, limit);
  memcpy(out, start, length);
  return length;
#endif
}

// A scan block copy, as a template argument: a reader is compiled once per
// copy, so that each is inlined where lines are read.
using ScanBlockCopy = size_t (*)(char *, const char *);

// Runs Reader::run<copy>(arguments...) with the scan block copy every
// processor of this host has.
template <class Reader, class... Arguments>
[[gnu::noinline]] int runWithBaselineScanBlock(Arguments... arguments) {
  return Reader::template run<copyLineInScanBlock>(arguments...);
}

#if defined(TKPIXMAP_AVX2_BUILDS)
// The same, compiled for AVX2 as a whole, so that its scan block copy is
// inlined.
template <class Reader, class... Arguments>
[[gnu::target("avx2"), gnu::noinline]] int runWithAvx2ScanBlock(Arguments... arguments) {
  return Reader::template run<copyLineInScanBlockAvx2>(arguments...);
}
#endif

// Runs Reader::run<copy>(arguments...) with the fastest scan block copy this
// processor has (processorHasAvx2); callers reach the chosen reader by a
// jump.
template <class Reader, class... Arguments>
inline int runWithFastestScanBlock(Arguments... arguments) {
#if defined(TKPIXMAP_AVX2_BUILDS)
  if (processorHasAvx2) return runWithAvx2ScanBlock<Reader>(arguments...);
#endif
  return runWithBaselineScanBlock<Reader>(arguments...);
}

}  // namespace tkpixmap::files

#endif
