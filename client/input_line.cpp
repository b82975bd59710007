#include "client/input_line.h"

#include "client/reply_relay.h"

namespace cmdclient {

bool read_input_line(std::istream& input, std::string& line) {
    if (!std::getline(input, line)) {
        return false;
    }
    // At end of input the line had no newline, so a final CR is the user's own.
    if (!input.eof() && !line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    return true;
}

void split_redirection(std::string& command, std::string& target) {
    target = console_target;
    const auto arrow = command.find('>');
    if (arrow == std::string::npos) {
        return;
    }
    // Only spaces are skipped; trailing spaces stay part of the file name.
    const auto name = command.find_first_not_of(' ', arrow + 1);
    target = name == std::string::npos ? std::string() : command.substr(name);
    command.erase(arrow);
    const auto last = command.find_last_not_of(' ');
    command.erase(last == std::string::npos ? 0 : last + 1);
}

} // namespace cmdclient
