#include "net/address.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

namespace net {
namespace {

constexpr std::uint32_t max_component = 255;

bool is_digit(char c) noexcept {
    return c >= '0' && c <= '9';
}

// Whitespace of the POSIX locale, independent of the locale in force.
bool is_space(char c) noexcept {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

} // namespace

int parse_dotted_quad(const char* text, in_addr* out) noexcept {
    const char* p = std::strcmp(text, "localhost") == 0 ? "127.0.0.1" : text;
    std::uint32_t address = 0;
    for (int component = 0; component < 4; ++component) {
        // A leading zero followed by more digits or a hex marker would be octal or
        // hex elsewhere; refuse rather than guess. "09" cannot be octal, so it reads as 9.
        if (!is_digit(*p) ||
            (p[0] == '0' && (p[1] == 'x' || p[1] == 'X' || (p[1] >= '0' && p[1] <= '8')))) {
            return 0;
        }
        std::uint32_t value = 0;
        for (; is_digit(*p); ++p) {
            value = value * 10 + static_cast<std::uint32_t>(*p - '0');
            if (value > max_component) { // which also keeps long digit runs from wrapping
                return 0;
            }
        }
        address = address << 8 | value;
        if (component < 3 && *p++ != '.') {
            return 0;
        }
    }
    if (*p != '\0' && !is_space(*p)) {
        return 0;
    }
    if (out != nullptr) {
        out->s_addr = htonl(address);
    }
    return 1;
}

Endpoint::Endpoint(in_addr address, int port) noexcept : size_(sizeof(sockaddr_in)) {
    sockaddr_in ipv4{};
    ipv4.sin_family = AF_INET;
    ipv4.sin_port = htons(static_cast<unsigned short>(port & 0xFFFF));
    ipv4.sin_addr = address;
    std::memcpy(&storage_, &ipv4, sizeof ipv4);
}

std::optional<Endpoint> Endpoint::of(const sockaddr* address, address_length size) noexcept {
    if (size <= 0 || static_cast<std::size_t>(size) > sizeof(address_storage)) {
        return std::nullopt;
    }
    Endpoint endpoint;
    std::memcpy(&endpoint.storage_, address, static_cast<std::size_t>(size));
    endpoint.size_ = size;
    return endpoint;
}

std::string Endpoint::text() const {
    return address_text(data(), size_);
}

bool looks_like_ipv6(const std::string& host) noexcept {
    const bool bracketed = !host.empty() && host.front() == '[';
    std::size_t end = std::min(host.find('%'), host.size());
    if (bracketed && host.back() == ']' && end == host.size()) {
        --end;
    }
    const auto first = host.begin() + (bracketed ? 1 : 0);
    const auto last = host.begin() + static_cast<std::ptrdiff_t>(end);
    const auto allowed = [](char c) {
        return is_digit(c) || c == ':' || c == '.' || ((c | 0x20) >= 'a' && (c | 0x20) <= 'f');
    };
    return std::all_of(first, last, allowed) && std::find(first, last, ':') != last;
}

std::optional<Endpoint> endpoint_of(const std::string& host, int port) noexcept {
    in_addr address{};
    if (text_to_address(ipv4_family, host.c_str(), &address) != 1) {
        return std::nullopt;
    }
    return Endpoint(address, port);
}

int text_to_address(int family, const char* text, in_addr* out) noexcept {
    if (family != ipv4_family) {
        errno = unsupported_family_error;
        return -1;
    }
    return parse_dotted_quad(text, out);
}

} // namespace net
