// Numbers as the demo server reads and writes them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace demo {

// Reads decimal ("42"), C hex ("0x2a", "0X2A") or assembler hex ("2ah", "0FFH").
// Nothing else is a number: no sign, no spaces, no value above 32 bits.
std::optional<std::uint32_t> parse_number(std::string_view text);

// Writes `value` in `radix` (2 to 16), upper-case digits, padded with zeros to
// at least `width` digits.
std::string format_number(std::uint32_t value, unsigned radix, std::size_t width = 1);

} // namespace demo
