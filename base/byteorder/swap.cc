/*
 * swap.cc - swap2, swap4 and swap8: reverse the bytes of every element of an
 * array of 2-, 4- or 8-byte items, in place or into another buffer.  The
 * reversal itself is layout.h's, the one the typed conversions use.
 */
#include "byteorder.h"

#include <cstddef>
#include <cstdint>

#include "base/byteorder/layout.h"

namespace tkpixmap::byteorder {
namespace {

/* reverse_images fetches each vector or element whole before writing it, so
 * `from` and `to` may be the same buffer; neither needs any alignment. */
template <class Element>
void reverse_elements(const void *from, void *to, int n) {
  if (n <= 0) return;
  reverse_images<Element>(from, to, static_cast<std::size_t>(n));
}

}  // namespace
}  // namespace tkpixmap::byteorder

void swap2(const void *from, void *to, int n) {
  tkpixmap::byteorder::reverse_elements<std::uint16_t>(from, to, n);
}

void swap4(const void *from, void *to, int n) {
  tkpixmap::byteorder::reverse_elements<std::uint32_t>(from, to, n);
}

void swap8(const void *from, void *to, int n) {
  tkpixmap::byteorder::reverse_elements<std::uint64_t>(from, to, n);
}
