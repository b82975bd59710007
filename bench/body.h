// The benchmark's reply body: printable text with no 'O' and no zero byte, the
// same for the server that sends it and the checker that verifies it.
#pragma once

#include <cstddef>

namespace bench {

// Line length of the pattern; 4 MiB blocks are a whole number of lines.
constexpr std::size_t body_line = 64;

// Byte `index` of the body: 63 printable characters, then a newline.
inline char body_byte(std::size_t index) {
    const std::size_t column = index % body_line;
    if (column == body_line - 1) {
        return '\n';
    }
    const char c = static_cast<char>('0' + column); // '0'..'n'
    return c == 'O' ? '#' : c;
}

inline void fill_body(char* out, std::size_t size, std::size_t start) {
    for (std::size_t i = 0; i < size; ++i) {
        out[i] = body_byte(start + i);
    }
}

} // namespace bench
