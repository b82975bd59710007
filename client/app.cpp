#include "client/app.h"

#include "client/arguments.h"
#include "client/command_loop.h"
#include "client/console.h"
#include "client/exchange.h"
#include "net/client_socket.h"
#include "net/platform.h"

#include <fstream>
#include <iostream>
#include <optional>
#include <string>

namespace cmdclient {

namespace {

constexpr int exit_ok = 0;
constexpr int exit_failure = 1;

constexpr const char* banner = "Use decimal, C hex (0x2a) or Asm hex (14h) for input\n"
                               "Return data reported according to specified radix\n"
                               "Type 'help' or 'quit' to exit\n";

} // namespace

int run(int argc, char* argv[]) {
    configure_console();
    // An empty argument vector is possible when another program starts us.
    const char* program = argc > 0 && argv[0] != nullptr ? argv[0] : "cmdclient";

    if (argc < 2) {
        std::cout << format_text("usage: %s [hostname] port#\n", program) << std::flush;
        return exit_failure;
    }
    const ServerArguments arguments = classify_arguments(argc, argv);
    const std::optional<int> port =
        arguments.port != nullptr ? parse_port(arguments.port) : std::nullopt;
    if (!port) {
        std::cout << format_text("%s: must specifiy valid port number\n", program) << std::flush;
        return exit_failure;
    }

    if (!net::start_socket_library()) {
        return exit_failure;
    }
    std::cout << banner;

    // Serves every redirected reply of the run, opened and closed around each.
    std::ofstream file;
    use_large_buffer(file);
    int status = exit_ok;
    try {
        const std::string host = arguments.host != nullptr ? arguments.host : "localhost";
        net::ClientSocket socket(host, *port);
        if (command_loop(socket, file) == LoopEnd::connection_lost) {
            status = exit_failure;
        }
    } catch (const net::SocketException& failure) {
        std::cout << "Exception was caught:" << failure.message() << "\n";
        status = exit_failure;
    }
    std::cout << "\n" << std::flush;
    // Output that never arrived (a full disk behind standard output, say) must
    // not pass for a clean run in a script.
    return std::cout.good() ? status : exit_failure;
}

} // namespace cmdclient
