/*
 * swap.cc - swap2, swap4 and swap8: reverse the bytes of every element of an
 * array of 2-, 4- or 8-byte items, in place or into another buffer.
 */
#include "byteorder.h"

#include <cstddef>
#include <cstring>

namespace tkpixmap::byteorder {
namespace {

/* Each element is fetched whole before any byte of it is written, so `from`
 * and `to` may be the same buffer; neither needs any alignment. */
template <std::size_t size>
void reverse_elements(const void *from, void *to, int n) {
  const unsigned char *src = static_cast<const unsigned char *>(from);
  unsigned char *dst = static_cast<unsigned char *>(to);
  for (int i = 0; i < n; ++i) {
    unsigned char element[size];
    std::memcpy(element, src + static_cast<std::size_t>(i) * size, size);
    for (std::size_t k = 0; k < size; ++k)
      dst[static_cast<std::size_t>(i) * size + k] = element[size - 1 - k];
  }
}

}  // namespace
}  // namespace tkpixmap::byteorder

void swap2(const void *from, void *to, int n) {
  tkpixmap::byteorder::reverse_elements<2>(from, to, n);
}

void swap4(const void *from, void *to, int n) {
  tkpixmap::byteorder::reverse_elements<4>(from, to, n);
}

void swap8(const void *from, void *to, int n) {
  tkpixmap::byteorder::reverse_elements<8>(from, to, n);
}
