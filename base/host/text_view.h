// Non-throwing slices of string views.  std::string_view's substr (and
// starts_with, which uses it) can throw, and this library must not need the
// C++ runtime that throwing brings in.
#ifndef TKPIXMAP_BASE_HOST_TEXT_VIEW_H
#define TKPIXMAP_BASE_HOST_TEXT_VIEW_H

#include <stddef.h>

#include <string_view>

namespace tkpixmap::text {

// The first n characters (all of them when there are fewer).
constexpr std::string_view head(std::string_view text, size_t n) {
  return std::string_view(text.data(), n < text.size() ? n : text.size());
}

// What follows the first n characters (empty when there are fewer).
constexpr std::string_view tail(std::string_view text, size_t n) {
  return n < text.size() ? std::string_view(text.data() + n, text.size() - n)
                         : std::string_view();
}

constexpr bool begins_with(std::string_view text, std::string_view prefix) {
  return head(text, prefix.size()) == prefix;
}

}  // namespace tkpixmap::text

#endif
