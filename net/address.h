// Addresses: the value a connect takes, and the conversion of address text into
// an IPv4 address, which knows only "localhost" and dotted-decimal addresses.
#pragma once

#include "net/platform.h"

#include <optional>
#include <string>

namespace net {

// One address to connect to, of any family the system has: made once, at the
// top, and handed down as a value.
class Endpoint {
  public:
    Endpoint() noexcept = default;
    // An IPv4 address (network byte order) and the low 16 bits of `port`.
    Endpoint(in_addr address, int port) noexcept;
    // A copy of the socket address at `address`; none when it is larger than
    // any address this system knows.
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

// `host` converted by text_to_address(), with `port`; none when it does not convert.
std::optional<Endpoint> endpoint_of(const std::string& host, int port) noexcept;

// True when `host` has the look of an IPv6 address ("::1", "fe80::1%eth0",
// "[::1]"): at least one ':', and before any '%' only hex digits, ':' and '.'.
bool looks_like_ipv6(const std::string& host) noexcept;

// Address family number of IPv4, the only family the conversion supports.
constexpr int ipv4_family = 2;

// 1 when `text` is an address, then stored in `out` (network byte order) if not null;
// 0 when not; -1 when `family` is not IPv4, errno then the unsupported-family code.
int text_to_address(int family, const char* text, in_addr* out) noexcept;

// Parses "localhost" or exactly four dotted decimal components of 0..255, none
// starting with '0' and then '0'-'8', 'x' or 'X' ("09" reads as 9), perhaps
// followed by whitespace and anything. 1 or 0, as text_to_address() returns.
int parse_dotted_quad(const char* text, in_addr* out) noexcept;

} // namespace net
