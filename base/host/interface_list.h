// Reading IPv4 addresses from the lines of the interface listing
// ("/sbin/ifconfig -a").  Internal to the host identity services; exposed
// for their tests.
#ifndef TKPIXMAP_BASE_HOST_INTERFACE_LIST_H
#define TKPIXMAP_BASE_HOST_INTERFACE_LIST_H

#include <stdint.h>

#include <string_view>

namespace tkpixmap::hostid {

constexpr uint32_t kLoopbackNumeric = 0x7F000001;  // 127.0.0.1

// The address (numeric form) a line of the listing carries, in either the
// classic form "inet addr:A.B.C.D" or the current one "inet A.B.C.D".
// False when the line carries none or its number is malformed.
bool address_in_line(std::string_view line, uint32_t &address);

}  // namespace tkpixmap::hostid

#endif
