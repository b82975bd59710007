// The console's command grammar, in one place: the "> target" redirection, the
// target that means the console, and the words the client handles itself. The
// command loop, Tab completion and the tests all read lines through it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace cmdclient::grammar {

inline constexpr char redirect_mark = '>';
// Ends the run; nothing is sent.
inline constexpr const char* quit = "quit";
// Sent like any command; the run ends after its reply.
inline constexpr const char* terminate = "terminate";
// The target that means the console, compared as exact text (a file of that
// name cannot be written to by redirection).
inline constexpr const char* console_target = "stdout";

// Where the target begins in `line`: after the first '>' and the spaces that
// follow it (only ' ', not tabs). npos when the line has no '>'; the line's
// size when the target is empty.
std::size_t target_start(std::string_view line) noexcept;

// The part of `line` before its first '>' (all of it without one).
std::string_view command_part(std::string_view line) noexcept;

} // namespace cmdclient::grammar

namespace cmdclient {

// Splits an optional redirection off `command`: everything after the first '>'
// is the target, less the spaces right after the '>'; the command keeps what
// came before, less its trailing spaces. Without a '>' the command stays exactly
// as typed and the target is grammar::console_target.
void split_redirection(std::string& command, std::string& target);

} // namespace cmdclient
