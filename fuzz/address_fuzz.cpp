// Address text conversion: whatever it accepts must be a real dotted quad (or
// "localhost"), and formatting the result and converting it again must give the
// same address. The input is copied into a buffer of exactly its size, so a read
// past the terminator is caught by the address sanitizer.
#include "net/address.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

bool is_space(char c) {
    return std::strchr(" \t\n\v\f\r", c) != nullptr && c != '\0';
}

// The address part of an accepted text must have exactly four decimal components
// of at most 255, none with a leading zero followed by '0'-'8', 'x' or 'X'.
bool well_formed(const std::string& address) {
    std::vector<std::string> components(1);
    for (char c : address) {
        if (c == '.') {
            components.emplace_back();
        } else {
            components.back() += c;
        }
    }
    if (components.size() != 4) {
        return false;
    }
    for (const auto& component : components) {
        if (component.empty() || component.size() > 12 ||
            component.find_first_not_of("0123456789") != std::string::npos) {
            return false;
        }
        if (component.size() > 1 && component[0] == '0' && component[1] != '9') {
            return false;
        }
        if (std::strtoul(component.c_str(), nullptr, 10) > 255) {
            return false;
        }
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::size_t length = strnlen(reinterpret_cast<const char*>(data), size);
    auto text = std::make_unique<char[]>(length + 1);
    std::memcpy(text.get(), data, length);
    text[length] = '\0';

    in_addr address{};
    const int verdict = net::text_to_address(net::ipv4_family, text.get(), &address);
    if (verdict == 0) {
        return 0;
    }
    if (verdict != 1) {
        std::abort();
    }

    std::string whole(text.get());
    if (whole != "localhost") {
        std::size_t end = 0;
        while (end < whole.size() && !is_space(whole[end])) {
            ++end;
        }
        if (!well_formed(whole.substr(0, end))) {
            std::abort();
        }
    }

    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&address.s_addr);
    char formatted[16];
    std::snprintf(formatted, sizeof formatted, "%u.%u.%u.%u", bytes[0], bytes[1], bytes[2],
                  bytes[3]);
    in_addr again{};
    if (net::text_to_address(net::ipv4_family, formatted, &again) != 1 ||
        again.s_addr != address.s_addr) {
        std::abort();
    }
    return 0;
}
