#include "net/address.h"

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
    if (std::strcmp(text, "localhost") == 0) {
        text = "127.0.0.1";
    }
    if (!is_digit(*text)) {
        return 0;
    }

    std::uint32_t components[4] = {};
    int stored = 0;
    const char* p = text;
    for (;;) {
        // A leading zero followed by more digits or a hex marker would be octal or
        // hex elsewhere; refuse rather than guess. "09" cannot be octal, so it reads as 9.
        if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X' || (p[1] >= '0' && p[1] <= '8'))) {
            return 0;
        }
        std::uint32_t value = 0;
        for (; is_digit(*p); ++p) {
            value = value * 10 + static_cast<std::uint32_t>(*p - '0');
            // Stopping here also keeps the accumulator from wrapping on long digit runs.
            if (value > max_component) {
                return 0;
            }
        }

        if (*p == '.') {
            if (stored == 3) {
                return 0;
            }
            components[stored++] = value;
            ++p;
            if (!is_digit(*p)) {
                return 0;
            }
            continue;
        }
        if (*p != '\0' && !is_space(*p)) {
            return 0;
        }
        if (stored != 3) {
            return 0;
        }
        components[3] = value;
        break;
    }

    if (out != nullptr) {
        const std::uint32_t address =
            components[0] << 24 | components[1] << 16 | components[2] << 8 | components[3];
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
    std::size_t begin = 0;
    std::size_t end = host.find('%');
    if (end == std::string::npos) {
        end = host.size();
    }
    if (!host.empty() && host.front() == '[') {
        begin = 1;
        if (host.back() == ']' && end == host.size()) {
            end = host.size() - 1;
        }
    }
    bool colon = false;
    for (std::size_t i = begin; i < end; ++i) {
        const char c = host[i];
        colon = colon || c == ':';
        if (!is_digit(c) && c != ':' && c != '.' && !((c | 0x20) >= 'a' && (c | 0x20) <= 'f')) {
            return false;
        }
    }
    return colon;
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
