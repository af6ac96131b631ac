/*
 * layout.h - where the bytes of a value lie: in the host's memory and in the
 * three external orders, and how external images are turned into host
 * values and back.
 *
 * Everything is derived from two compile-time facts about the host, its byte
 * order and the order of the two 32-bit words of a double, so the same source
 * serves little-endian hosts, big-endian hosts and hosts that keep doubles as
 * two words with the high word first.  Positions are described by
 * significance: byte k of a width-w value is its k-th most significant byte
 * (k = 0 holds the sign of an integer, or the sign and exponent of an IEEE 754
 * image).
 */
#ifndef TKPIXMAP_BYTEORDER_LAYOUT_H
#define TKPIXMAP_BYTEORDER_LAYOUT_H

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <type_traits>
#include <utility>

namespace tkpixmap::byteorder {

/* The external orders: the host's own image, most significant byte first
 * (network order), least significant byte first. */
enum class Order : unsigned char { a, m, v };

/* The facts that decide every layout. */
struct HostFacts {
  std::endian byte_order;         /* of integers and floats */
  std::endian double_word_order;  /* of the two 32-bit halves of a double */
};

static_assert(std::endian::native == std::endian::little ||
                  std::endian::native == std::endian::big,
              "hosts with mixed-endian integers are not supported");
static_assert(std::numeric_limits<float>::is_iec559 &&
                  std::numeric_limits<double>::is_iec559 &&
                  sizeof(float) == 4 && sizeof(double) == 8,
              "float and double must be IEEE 754 single and double precision");

#if defined(__FLOAT_WORD_ORDER__)
inline constexpr std::endian kNativeDoubleWordOrder =
    __FLOAT_WORD_ORDER__ == __ORDER_BIG_ENDIAN__ ? std::endian::big : std::endian::little;
#else
inline constexpr std::endian kNativeDoubleWordOrder = std::endian::native;
#endif

inline constexpr HostFacts kNativeHost{std::endian::native, kNativeDoubleWordOrder};

/* Memory offset of the byte of significance k in the host image of a value
 * of `width` bytes; `is_double` selects the word-ordered double layout. */
constexpr unsigned host_position(HostFacts host, unsigned width, bool is_double, unsigned k) {
  if (is_double && width == 8) {
    unsigned word = k / 4, within = k % 4;
    unsigned word_at = host.double_word_order == std::endian::big ? word : 1 - word;
    unsigned byte_at = host.byte_order == std::endian::big ? within : 3 - within;
    return 4 * word_at + byte_at;
  }
  return host.byte_order == std::endian::big ? k : width - 1 - k;
}

/* Stream offset of the byte of significance k in the external image. */
constexpr unsigned external_position(HostFacts host, Order order, unsigned width, bool is_double,
                                     unsigned k) {
  switch (order) {
    case Order::m: return k;
    case Order::v: return width - 1 - k;
    case Order::a: break;
  }
  return host_position(host, width, is_double, k);
}

/* True when the external image is byte for byte the host image, so that
 * moving a value between them is a plain copy. */
constexpr bool external_is_host_image(HostFacts host, Order order, unsigned width, bool is_double) {
  for (unsigned k = 0; k < width; ++k)
    if (external_position(host, order, width, is_double, k) != host_position(host, width, is_double, k))
      return false;
  return true;
}

/* True when the host keeps a double as a 64-bit integer's image would be
 * kept (shift = 0), or with the two 32-bit words exchanged (shift = 4). */
constexpr bool double_image_is_integer_image(HostFacts host, unsigned shift = 0) {
  for (unsigned k = 0; k < 8; ++k)
    if (host_position(host, 8, true, k) != host_position(host, 8, false, (k + shift) % 8))
      return false;
  return true;
}

constexpr bool double_words_swapped(HostFacts host) {
  return double_image_is_integer_image(host, 4);
}

template <class T>
inline constexpr bool kIsDouble = std::is_same_v<T, double>;

template <class T>
inline constexpr bool kCopies(Order order) {
  return external_is_host_image(kNativeHost, order, sizeof(T), kIsDouble<T>);
}

/* The unsigned integer holding a value's image, significance preserved. */
template <class T>
using ImageBits = std::conditional_t<sizeof(T) == 1, std::uint8_t,
                  std::conditional_t<sizeof(T) == 2, std::uint16_t,
                  std::conditional_t<sizeof(T) == 4, std::uint32_t, std::uint64_t>>>;

/* A host value from its image read by significance (for floating types the
 * IEEE 754 bit pattern, for integers the two's complement bits). */
template <class T>
inline T from_image_bits(ImageBits<T> bits) {
  if constexpr (std::is_integral_v<T>) {
    return static_cast<T>(bits);
  } else {
    if constexpr (kIsDouble<T> && !double_image_is_integer_image(kNativeHost)) {
      static_assert(kIsDouble<T> && double_words_swapped(kNativeHost), "unsupported double layout");
      bits = std::rotl(bits, 32);
    }
    /* memcpy rather than bit_cast: the vectoriser handles the former. */
    T value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
  }
}

template <class T>
inline ImageBits<T> to_image_bits(T value) {
  if constexpr (std::is_integral_v<T>) {
    return static_cast<ImageBits<T>>(value);
  } else {
    ImageBits<T> bits;
    std::memcpy(&bits, &value, sizeof bits);
    if constexpr (kIsDouble<T> && !double_image_is_integer_image(kNativeHost)) {
      static_assert(kIsDouble<T> && double_words_swapped(kNativeHost), "unsupported double layout");
      bits = std::rotl(bits, 32);
    }
    return bits;
  }
}

/* The bytes of an image in the opposite order. */
template <class U>
inline U byte_reversed(U u) {
  static_assert(std::is_unsigned_v<U>);
  if constexpr (sizeof(U) == 1)
    return u;
  else if constexpr (sizeof(U) == 2)
    return __builtin_bswap16(u);
  else if constexpr (sizeof(U) == 4)
    return __builtin_bswap32(u);
  else
    return __builtin_bswap64(u);
}

/* Copies n images of type T from `from` to `to` (any alignment; the two
 * may be the same) with the bytes of each reversed, and tells whether any
 * of the values, read on the host side (the source when `host_source`, else
 * the result), is a NaN.  Written on 16-byte vectors (a compiler extension
 * every supported compiler has) as a shuffle of 16-bit lanes and a rotation
 * within each lane, which every vector unit can do; a loop of byte-swap
 * instructions does not vectorise on targets without a byte shuffle.  The
 * NaN test is folded into the same pass so that each value is touched once. */
template <class T, bool check_nan = false, bool host_source = false>
inline bool reverse_images(const void *from, void *to, std::size_t n) {
  using U = ImageBits<T>;
  const unsigned char *src = static_cast<const unsigned char *>(from);
  unsigned char *dst = static_cast<unsigned char *>(to);
  std::size_t i = 0;
  bool nan = false;
  if constexpr (sizeof(U) > 1) {
    /* As 16-bit lanes: put the lanes of each image in reverse order, then
     * exchange the two bytes of every lane. */
    using Lanes [[gnu::vector_size(16)]] = std::uint16_t;
    using Values [[gnu::vector_size(16)]] = std::conditional_t<check_nan, T, U>;
    decltype(Values{} != Values{}) seen = {};
    constexpr std::size_t kImages = 16 / sizeof(U);
    for (; i + kImages <= n; i += kImages) {
      Lanes v;
      std::memcpy(&v, src + i * sizeof(U), sizeof v);
      Values host;
      if constexpr (check_nan && host_source) std::memcpy(&host, &v, sizeof host);
      if constexpr (sizeof(U) == 4) v = __builtin_shufflevector(v, v, 1, 0, 3, 2, 5, 4, 7, 6);
      if constexpr (sizeof(U) == 8) v = __builtin_shufflevector(v, v, 3, 2, 1, 0, 7, 6, 5, 4);
      v = v << 8 | v >> 8;
      if constexpr (check_nan && !host_source) std::memcpy(&host, &v, sizeof host);
      if constexpr (check_nan) seen |= host != host;
      std::memcpy(dst + i * sizeof(U), &v, sizeof v);
    }
    if constexpr (check_nan)
      for (std::size_t lane = 0; lane < kImages; ++lane) nan |= seen[lane] != 0;
  }
  for (; i < n; ++i) {
    U image;
    std::memcpy(&image, src + i * sizeof(U), sizeof image);
    U reversed = byte_reversed(image);
    std::memcpy(dst + i * sizeof(U), &reversed, sizeof reversed);
    if constexpr (check_nan) {
      T host;
      std::memcpy(&host, host_source ? &image : &reversed, sizeof host);
      nan |= host != host;
    }
  }
  return nan;
}

/* The same reversal for targets with a byte shuffle over 32-byte vectors
 * (one instruction per vector there; without such a unit the compiler
 * would take it apart, so only builds for such targets use it). */
template <std::size_t width, class Bytes, std::size_t... byte>
[[gnu::always_inline]] inline void reverse_each(Bytes &v, std::index_sequence<byte...>) {
  v = __builtin_shufflevector(v, v, (byte / width * width + width - 1 - byte % width)...);
}

template <class T>
inline void reverse_images_by_byte_shuffle(const void *from, void *to, std::size_t n) {
  using U = ImageBits<T>;
  const unsigned char *src = static_cast<const unsigned char *>(from);
  unsigned char *dst = static_cast<unsigned char *>(to);
  std::size_t i = 0;
  if constexpr (sizeof(U) > 1) {
    using Bytes [[gnu::vector_size(32)]] = std::uint8_t;
    constexpr std::size_t kImages = 32 / sizeof(U);
    for (; i + kImages <= n; i += kImages) {
      Bytes v;
      std::memcpy(&v, src + i * sizeof(U), sizeof v);
      reverse_each<sizeof(U)>(v, std::make_index_sequence<32>{});
      std::memcpy(dst + i * sizeof(U), &v, sizeof v);
    }
  }
  for (; i < n; ++i) {
    U image;
    std::memcpy(&image, src + i * sizeof(U), sizeof image);
    U reversed = byte_reversed(image);
    std::memcpy(dst + i * sizeof(U), &reversed, sizeof reversed);
  }
}

/* The byte order an external order reads its image in (a is not asked:
 * its image is always the host's). */
constexpr std::endian stream_byte_order(Order order) {
  return order == Order::m ? std::endian::big : std::endian::little;
}

}  // namespace tkpixmap::byteorder

#endif
