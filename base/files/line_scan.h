// line_scan.h - finding where a line ends in mapped data: the first newline
// or zero byte, looked for a whole block at a time instead of byte by byte.
//
// The scanners read the aligned blocks that contain the range, including a
// few bytes before its start and after its end.  That is safe for mapped
// data, which always spans whole pages: an aligned block never straddles a
// page, so it is readable whenever one byte of it is.
#ifndef TKPIXMAP_BASE_FILES_LINE_SCAN_H
#define TKPIXMAP_BASE_FILES_LINE_SCAN_H

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <bit>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tkpixmap::files {

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

// Copies the line at `start` into `out` and returns its length: the bytes
// before the first newline or zero byte among the `limit` at start (all of
// them when there is none).  `out` has room for `limit` bytes; nothing is
// written past the line.  Bytes up to `readableEnd` may be read, which must be
// at least the 16-byte boundary after start + limit.
inline size_t copyLineBytes(char *out, const char *start, size_t limit, const char *readableEnd) {
#if defined(__SSE2__)
  // One pass that scans and copies sixteen bytes at a time, with unaligned
  // loads while a whole block is readable.  (Wider steps measured slower on
  // text lines: their copies of the last part branch on its length.)
  const __m128i newlines = _mm_set1_epi8('\n');
  const __m128i zeros = _mm_setzero_si128();
  size_t done = 0;
  while (readableEnd - (start + done) >= 16) {
    __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(start + done));
    unsigned m = static_cast<unsigned>(_mm_movemask_epi8(
        _mm_or_si128(_mm_cmpeq_epi8(bytes, newlines), _mm_cmpeq_epi8(bytes, zeros))));
    const size_t left = limit - done;
    if (left < 16) m |= 1u << left;  // the limit ends the line like a newline
    if (m != 0) {
      const size_t length = done + static_cast<size_t>(std::countr_zero(m));
      if (length >= 16) {
        // The last sixteen bytes of the line, overlapping what is written.
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + length - 16),
                         _mm_loadu_si128(reinterpret_cast<const __m128i *>(start + length - 16)));
      } else {
        memcpy(out, start, length);
      }
      return length;
    }
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out + done), bytes);
    done += 16;
  }
  // The end of the readable data is near: finish with aligned blocks.
  const size_t length = done + findLineEndBySse2(start + done, limit - done);
  memcpy(out + done, start + done, length - done);
  return length;
#else
  (void)readableEnd;
  const size_t length = findLineEndByWords(start, limit);
  memcpy(out, start, length);
  return length;
#endif
}

}  // namespace tkpixmap::files

#endif
