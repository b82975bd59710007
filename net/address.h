// Addresses: the value a connect takes, and the conversion of address text
// into an IPv4 address. The conversion never consults a name service: only
// "localhost" and dotted-decimal addresses are understood.
#pragma once

#include "net/platform.h"

#include <optional>
#include <string>

namespace net {

// One address to connect to, of any family the system has: a socket address
// made once, at the top, and handed down as a value.
class Endpoint {
  public:
    Endpoint() noexcept = default;
    // An IPv4 address (network byte order) and the low 16 bits of `port`.
    Endpoint(in_addr address, int port) noexcept;
    // A copy of the socket address at `address` (as the system's lookup gives
    // it); none when it is larger than any address this system knows.
    static std::optional<Endpoint> of(const sockaddr* address, address_length size) noexcept;

    const sockaddr* data() const noexcept { return reinterpret_cast<const sockaddr*>(&storage_); }
    address_length size() const noexcept { return size_; }
    int family() const noexcept { return data()->sa_family; }
    bool is_ipv4() const noexcept { return family() == AF_INET; }

    // The address and port for messages: "127.0.0.1 port 5000", "::1 port 5000".
    std::string text() const;

  private:
    address_storage storage_{};
    address_length size_ = 0;
};

// The host text converted as text_to_address() converts it, with `port`; none
// when it does not convert.
std::optional<Endpoint> endpoint_of(const std::string& host, int port) noexcept;

// True when `host` has the look of an IPv6 address ("::1", "fe80::1%eth0",
// "[::1]"): at least one ':', and before any '%' only hex digits, ':' and '.'.
// It only chooses the words that say why a host text is not used.
bool looks_like_ipv6(const std::string& host) noexcept;

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
