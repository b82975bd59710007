#include "client/command_grammar.h"

namespace cmdclient {

std::size_t grammar::target_start(std::string_view line) noexcept {
    const auto arrow = line.find(redirect_mark);
    if (arrow == std::string_view::npos) {
        return arrow;
    }
    // Only spaces are skipped; trailing spaces stay part of the file name.
    const auto name = line.find_first_not_of(' ', arrow + 1);
    return name == std::string_view::npos ? line.size() : name;
}

std::string_view grammar::command_part(std::string_view line) noexcept {
    return line.substr(0, line.find(redirect_mark));
}

void split_redirection(std::string& command, std::string& target) {
    const auto name = grammar::target_start(command);
    if (name == std::string::npos) {
        target = grammar::console_target;
        return;
    }
    target = command.substr(name);
    command.erase(command.find(grammar::redirect_mark));
    command.erase(command.find_last_not_of(' ') + 1); // npos + 1: all of it
}

} // namespace cmdclient
