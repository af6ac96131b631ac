// Addresses in the interface listing, in the classic and the current form.
#include "base/host/interface_list.h"

#include "base/host/text_view.h"

namespace tkpixmap::hostid {
namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// One dotted number of at most three digits and value 255, advancing text.
bool take_octet(std::string_view &text, uint32_t &octet) {
  size_t digits = 0;
  uint32_t value = 0;
  while (digits < text.size() && is_digit(text[digits])) {
    if (digits == 3) return false;
    value = value * 10 + static_cast<uint32_t>(text[digits] - '0');
    ++digits;
  }
  if (digits == 0 || value > 255) return false;
  text.remove_prefix(digits);
  octet = value;
  return true;
}

bool parse_dotted(std::string_view text, uint32_t &address) {
  uint32_t result = 0;
  for (int i = 0; i < 4; ++i) {
    uint32_t octet;
    if (!take_octet(text, octet)) return false;
    result = result << 8 | octet;
    if (i < 3) {
      if (text.empty() || text.front() != '.') return false;
      text.remove_prefix(1);
    }
  }
  // The address ends the field: "10.0.0.1x" or "10.0.0.1.5" is no address.
  if (!text.empty() && text.front() != ' ' && text.front() != '\t') return false;
  address = result;
  return true;
}

}  // namespace

bool address_in_line(std::string_view line, uint32_t &address) {
  constexpr std::string_view kClassic = "inet addr:";
  constexpr std::string_view kCurrent = "inet ";
  size_t at = line.find(kClassic);
  if (at != std::string_view::npos) return parse_dotted(text::tail(line, at + kClassic.size()), address);
  at = line.find(kCurrent);
  if (at != std::string_view::npos) return parse_dotted(text::tail(line, at + kCurrent.size()), address);
  return false;
}

}  // namespace tkpixmap::hostid
