#include "client/command_loop.h"

#include "client/exchange.h"
#include "client/input_line.h"

#include <iostream>
#include <string>

namespace cmdclient {

namespace {
constexpr const char* prompt = "Ok> ";
}

LoopEnd command_loop(net::ClientSocket& socket, std::ofstream& file) {
    std::string command;
    std::string target;
    std::string reply;
    std::cout << prompt;
    for (;;) {
        // Everything shown so far must be visible while we wait for the user.
        std::cout.flush();
        if (!read_input_line(std::cin, command)) {
            return LoopEnd::input_ended;
        }
        split_redirection(command, target);
        if (command == "quit") {
            return LoopEnd::quit;
        }
        if (command.empty()) {
            std::cout << prompt;
            continue;
        }
        // The exchange leaves the next prompt: the reply's closing "Ok" starts it.
        if (exchange(socket, file, command, target, reply) == ReplyEnd::connection_lost) {
            return LoopEnd::connection_lost;
        }
        if (command == "terminate") {
            return LoopEnd::terminated;
        }
    }
}

} // namespace cmdclient
