#include "client/console.h"

#include <cstdarg>
#include <cstdio>
#include <iostream>

#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#else
#include <unistd.h>
#endif

namespace cmdclient {

namespace {
constexpr std::size_t console_buffer_size = std::size_t{256} << 10;
char console_buffer[console_buffer_size];
} // namespace

void configure_console() {
    // Without this, the standard stream writes through C stdio call by call and
    // ignores a buffer of our own.
    std::ios::sync_with_stdio(false);
    std::cout.rdbuf()->pubsetbuf(console_buffer, console_buffer_size);
}

bool console_is_terminal() noexcept {
    return isatty(1) != 0;
}

std::string format_text(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list measuring;
    va_copy(measuring, args);
    const int length = std::vsnprintf(nullptr, 0, format, measuring);
    va_end(measuring);
    std::string text(length > 0 ? static_cast<std::size_t>(length) : 0, '\0');
    if (length > 0) {
        std::vsnprintf(text.data(), text.size() + 1, format, args);
    }
    va_end(args);
    return text;
}

} // namespace cmdclient
