// Standard output, as every part of the client writes to it.
#pragma once

#include <string>

namespace cmdclient {

// Gives standard output one large buffer that every message goes through,
// printf-style lines included, so that text appears in program order and large
// replies are not written in small pieces. Call before anything is printed.
void configure_console();

// True when standard output is a terminal, where a person watches replies arrive.
bool console_is_terminal() noexcept;

// printf-style formatting into a text, for the client's formatted lines.
std::string format_text(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

} // namespace cmdclient
