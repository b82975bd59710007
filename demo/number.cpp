#include "demo/number.h"

namespace demo {

namespace {

int digit_value(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

std::optional<std::uint32_t> parse_digits(std::string_view digits, unsigned radix) {
    if (digits.empty()) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (char c : digits) {
        const int digit = digit_value(c);
        if (digit < 0 || static_cast<unsigned>(digit) >= radix) {
            return std::nullopt;
        }
        value = value * radix + static_cast<unsigned>(digit);
        if (value > UINT32_MAX) {
            return std::nullopt;
        }
    }
    return static_cast<std::uint32_t>(value);
}

} // namespace

std::optional<std::uint32_t> parse_number(std::string_view text) {
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        return parse_digits(text.substr(2), 16);
    }
    if (text.size() > 1 && (text.back() == 'h' || text.back() == 'H')) {
        return parse_digits(text.substr(0, text.size() - 1), 16);
    }
    return parse_digits(text, 10);
}

std::string format_number(std::uint32_t value, unsigned radix, std::size_t width) {
    std::string digits;
    do {
        digits.insert(digits.begin(), "0123456789ABCDEF"[value % radix]);
        value /= radix;
    } while (value != 0);
    if (digits.size() < width) {
        digits.insert(0, width - digits.size(), '0');
    }
    return digits;
}

} // namespace demo
