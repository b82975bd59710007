// The console's command grammar in one place, for the command loop, Tab
// completion and the tests: the "> target" redirection and the client's words.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace cmdclient {
namespace grammar {

inline constexpr char redirect_mark = '>';
inline constexpr const char* quit = "quit";           // ends the run; nothing is sent
inline constexpr const char* terminate = "terminate"; // sent; the run ends after its reply
// The target that means the console (exact text: a file so named cannot be one).
inline constexpr const char* console_target = "stdout";

// Where the target begins in `line`: after the first '>' and the spaces (not
// tabs) after it. npos without a '>'; the line's size when the target is empty.
std::size_t target_start(std::string_view line) noexcept;

// The part of `line` before its first '>' (all of it without one).
std::string_view command_part(std::string_view line) noexcept;

} // namespace grammar

// Splits an optional redirection off `command`: the target from target_start(),
// the command before the '>' less its trailing spaces. Without a '>' the command
// stays as typed and the target is grammar::console_target.
void split_redirection(std::string& command, std::string& target);

} // namespace cmdclient
