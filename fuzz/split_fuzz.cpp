// Splitting an input line: the command never holds a '>', the target is all
// that follows the first '>' less the spaces right after it, and the command is
// what precedes it less its trailing spaces. A line without '>' is untouched.
#include "client/command_grammar.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string line(reinterpret_cast<const char*>(data), size);
    std::string command = line;
    std::string target;
    cmdclient::split_redirection(command, target);

    const std::size_t arrow = line.find('>');
    if (arrow == std::string::npos) {
        if (command != line || target != "stdout") {
            std::abort();
        }
        return 0;
    }
    if (command.find('>') != std::string::npos) {
        std::abort();
    }
    // Rebuild the line from the parts: command, removed spaces, '>', skipped spaces, target.
    std::size_t before = arrow - command.size();
    std::size_t after = line.size() - arrow - 1 - target.size();
    const std::string rebuilt =
        command + std::string(before, ' ') + '>' + std::string(after, ' ') + target;
    if (rebuilt != line || (!command.empty() && command.back() == ' ') ||
        (!target.empty() && target.front() == ' ')) {
        std::abort();
    }
    return 0;
}
