// gxline_fuzzer.cc - libFuzzer target for line access over files.
// The input holds the file's bytes, the size of the read buffer it is read
// through, and a program of gxline calls (with any buffer size), gxseek and
// gxtell.  The file is opened through gxopen on an in-memory file's
// /proc/self/fd path; every call is held against a plain byte-by-byte model
// of the line rules, and every buffer is allocated at exactly its size so
// that a byte written past it is caught.

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include <fuzzer/FuzzedDataProvider.h>

#include <vector>

#include "base/files/read_buffer.h"
#include "baseutil.h"
#include "gxline.h"

namespace {

void quiet(int, const char *, void *) {}

// The line rules, one byte at a time: at most bufferSize - 1 bytes, a
// newline ends the line and is consumed, a zero byte ends it and is not.
struct ModelLine {
  int result;
  std::vector<char> text;
  int position;
};

ModelLine modelLine(const std::vector<uint8_t> &data, int position, int bufferSize) {
  ModelLine line{0, {}, position};
  const int room = bufferSize - 1;
  int consumed = 0;
  bool stopped = false;
  while (consumed < room && line.position < static_cast<int>(data.size())) {
    uint8_t byte = data[static_cast<size_t>(line.position)];
    if (byte == 0) {
      stopped = true;
      break;
    }
    ++line.position;
    ++consumed;
    if (byte == '\n') {
      stopped = true;
      break;
    }
    line.text.push_back(static_cast<char>(byte));
  }
  if (consumed == room && !stopped && room > 0 &&
      data[static_cast<size_t>(line.position - 1)] != '\n') {
    line.result = 2;
  } else {
    line.result = consumed > 0 ? 1 : 0;
  }
  return line;
}

// One in-memory file for the whole run, rewritten for each input.
int memoryFile() {
  static int fd = memfd_create("gxline_fuzzer", 0);
  if (fd < 0) abort();
  return fd;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *input, size_t size) {
  static bool sinkSet = (elog_set_sink(quiet, nullptr), true);
  (void)sinkSet;
  FuzzedDataProvider provider(input, size);
  const size_t dataSize = provider.ConsumeIntegralInRange<size_t>(0, 16384);
  std::vector<uint8_t> data = provider.ConsumeBytes<uint8_t>(dataSize);
  // Read buffers from a byte to more than the whole data, so that their ends
  // fall anywhere in the lines.
  tkpixmap::files::setReadBufferBytes(provider.ConsumeIntegralInRange<int>(1, 20000));

  const int fd = memoryFile();
  if (ftruncate(fd, 0) != 0 || lseek(fd, 0, SEEK_SET) != 0) abort();
  if (!data.empty() && write(fd, data.data(), data.size()) != static_cast<ssize_t>(data.size()))
    abort();
  char path[64];
  snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
  const int handle = gxopen(path);
  if (data.empty()) {
    if (handle != -1) abort();  // an empty file is refused
    return 0;
  }
  if (handle < 0) abort();

  const int fileSize = static_cast<int>(data.size());
  int position = 0;
  while (provider.remaining_bytes() > 0) {
    switch (provider.ConsumeIntegralInRange<int>(0, 3)) {
      case 0:
      case 1: {
        // Mostly small buffers, where the line rules have their edges.
        int bufferSize = provider.ConsumeBool()
                             ? provider.ConsumeIntegralInRange<int>(0, 8)
                             : provider.ConsumeIntegralInRange<int>(0, fileSize + 2);
        std::vector<char> buffer(static_cast<size_t>(bufferSize > 0 ? bufferSize : 1), '\x7f');
        const int result = gxline(handle, buffer.data(), bufferSize);
        if (result < 0 || result > 2) abort();
        if (bufferSize < 2) {
          if (result != 0 || buffer[0] != '\x7f') abort();  // left untouched
          break;
        }
        const ModelLine want = modelLine(data, position, bufferSize);
        if (result != want.result) abort();
        const size_t length = strnlen(buffer.data(), static_cast<size_t>(bufferSize));
        if (length >= static_cast<size_t>(bufferSize)) abort();  // not terminated
        if (length != want.text.size()) abort();
        if (length > 0 && memcmp(buffer.data(), want.text.data(), length) != 0) abort();
        position = want.position;
        if (gxtell(handle) != position) abort();
        break;
      }
      case 2: {
        const int offset = provider.ConsumeIntegralInRange<int>(-2, fileSize + 2);
        const int result = gxseek(handle, offset);
        const bool valid = offset >= 0 && offset <= fileSize;
        if (result != (valid ? 0 : -1)) abort();
        if (valid) position = offset;
        if (gxtell(handle) != position) abort();
        break;
      }
      case 3: {
        const int told = gxtell(handle);
        if (told != position || told < 0 || told > fileSize) abort();
        break;
      }
    }
  }
  if (gxclose(handle) != 0) abort();
  // A closed handle is unknown again.
  char probe[4] = "abc";
  if (gxline(handle, probe, sizeof probe) != 0 || strcmp(probe, "abc") != 0) abort();
  if (gxtell(handle) != -1) abort();
  return 0;
}
