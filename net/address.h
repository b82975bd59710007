// Conversion of address text into an IPv4 address. It never consults a name
// service: only "localhost" and dotted-decimal addresses are understood.
#pragma once

#include "net/platform.h"

namespace net {

// Address family number of IPv4, the only family the conversion supports.
constexpr int ipv4_family = 2;

// Converts `text` (zero-terminated) for the given address family.
// Returns 1 and stores the address in `out` (network byte order, when `out` is
// not null) if the text is a valid address; 0 if it is not (`out` untouched);
// -1 if `family` is not IPv4, with errno set to the unsupported-family code.
int text_to_address(int family, const char* text, in_addr* out) noexcept;

// Parses "localhost" or exactly four dotted decimal components of 0..255.
// A component may not start with '0' followed by '0'-'8', 'x' or 'X' (so octal
// and hex never sneak in), though "09" reads as 9. The address may be followed by
// whitespace and anything after it. Returns 1 on success (storing into `out`
// when not null), 0 on failure without touching `out`.
int parse_dotted_quad(const char* text, in_addr* out) noexcept;

} // namespace net
