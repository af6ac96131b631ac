// source.h - where the GIF reader takes its bytes from: a C stream (the
// exported reader) or a block of memory (fuzzing, benchmarks).  Reads never
// go past what the decoder asks for, so a stream is left positioned just
// after the data that was consumed.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

namespace tkpixmap::gif {

class ByteSource {
 public:
  // The stream must stay locked (flockfile) by the caller while it is read.
  explicit ByteSource(FILE *file) : file_(file) {}
  ByteSource(const uint8_t *data, size_t size) : next_(data), end_(data + size) {}

  // Reads exactly `count` bytes into dst; false when they cannot all be had
  // (whatever was read is consumed, as with fread).
  bool read(uint8_t *dst, size_t count) {
    const uint8_t *bytes = view(count, dst);
    if (bytes == nullptr) return false;
    if (bytes != dst) memcpy(dst, bytes, count);
    return true;
  }

  // Reads one byte; -1 at the end of the data.
  int readByte() {
    if (file_ != nullptr) return getc_unlocked(file_);
    return next_ < end_ ? *next_++ : -1;
  }

  // A pointer to the next `count` bytes: straight into memory when reading
  // memory, else into `scratch` (room for count bytes).  Null when short.
  const uint8_t *view(size_t count, uint8_t *scratch) {
    if (file_ != nullptr) {
      return fread_unlocked(scratch, 1, count, file_) == count ? scratch : nullptr;
    }
    if (static_cast<size_t>(end_ - next_) < count) {
      next_ = end_;
      return nullptr;
    }
    const uint8_t *bytes = next_;
    next_ += count;
    return bytes;
  }

 private:
  FILE *file_ = nullptr;
  const uint8_t *next_ = nullptr;
  const uint8_t *end_ = nullptr;
};

}  // namespace tkpixmap::gif
