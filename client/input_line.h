// Reading and splitting the lines a user types.
#pragma once

#include <istream>
#include <string>

namespace cmdclient {

// Reads one line, of any length, into `line` without its newline; a carriage
// return right before the newline goes too (CR LF line ends). A last line with
// no newline is still a line. False only when no more input is left at all.
bool read_input_line(std::istream& input, std::string& line);

// Splits an optional redirection off `command`: everything after the first '>'
// is the target, less the spaces right after the '>'; the command keeps what
// came before, less its trailing spaces. Without a '>' the command stays exactly
// as typed and the target is "stdout", the console.
void split_redirection(std::string& command, std::string& target);

} // namespace cmdclient
