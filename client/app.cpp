#include "client/app.h"

#include "client/arguments.h"
#include "client/command_loop.h"
#include "client/console_platform.h"
#include "client/history_file.h"
#include "client/line_editor.h"
#include "client/session.h"
#include "client/texts.h"
#include "net/address.h"
#include "net/platform.h"
#include "net/wait.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <new>
#include <optional>
#include <string>

namespace cmdclient {

namespace {

constexpr int exit_ok = 0;
constexpr int exit_failure = 1;
// Apart from 1 (connection or input trouble), so that a script can tell them.
constexpr int exit_command_failed = 3;

// printf-style formatting into a text, for the client's formatted lines.
#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
std::string format_text(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list measuring;
    va_copy(measuring, args);
    const int length = std::vsnprintf(nullptr, 0, format, measuring);
    va_end(measuring);
    std::string text(length > 0 ? static_cast<std::size_t>(length) : 0, '\0');
    if (length > 0) {
        std::vsnprintf(&text[0], text.size() + 1, format, args);
    }
    va_end(args);
    return text;
}

int run_session(Session& session, int argc, char* argv[], const CommandLine& command_line) {
    Console& console = session.console();
    // An empty argument vector is possible when another program starts us.
    const char* program = argc > 0 && argv[0] != nullptr ? argv[0] : "cmdclient";

    if (argc < 2) {
        console.show(format_text(texts::usage, program));
        return exit_failure;
    }
    // Only as the sole argument: anything else keeps the host-or-port rules.
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        console.show(texts::help);
        return exit_ok;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        console.show("cmdclient " CMDCLIENT_VERSION "\n");
        return exit_ok;
    }
    const Options& options = command_line.options;
    if (!command_line.error.empty()) {
        console.report(command_line.error + "; " + format_text(texts::options_usage, program));
        return exit_failure;
    }
    if (command_line.first_server_argument >= argc) {
        console.show(format_text(texts::usage, program));
        return exit_failure;
    }
    const ServerArguments arguments =
        classify_arguments(argc, argv, command_line.first_server_argument);
    const std::optional<int> port =
        arguments.port != nullptr ? parse_port(arguments.port) : std::nullopt;
    if (!port) {
        console.show(format_text(texts::no_port, program));
        return exit_failure;
    }

    if (!net::start_socket_library()) {
        return exit_failure;
    }
    if (!options.quiet) {
        console.show(texts::banner);
    }

    const std::string host = arguments.host != nullptr ? arguments.host : "localhost";
    const std::string peer = host + " port " + std::to_string(*port);
    // From here a stop signal is heard by every wait, the connect's included.
    platform::install_signal_handlers();
    int failure_error = 0;
    try {
        const net::Deadline connect_deadline = net::deadline_after(
            options.connect_timeout ? std::optional<double>(options.connect_timeout->value)
                                    : std::nullopt);
        session.attach(
            std::make_unique<SocketConnection>(host, *port, connect_deadline, failure_error),
            peer);
    } catch (const net::SocketException& failure) {
        if (net::pending_stop_signal() != 0) {
            session.policy().end_run(net::take_stop_signal());
        }
        console.show_failure(std::string(texts::connect_failed) + failure.message() + "\n");
        if (net::parse_dotted_quad(host.c_str(), nullptr) != 1) {
            console.report("'" + host + "' " + texts::names_not_looked_up);
        } else {
            console.report("cannot connect to " + peer + ": " +
                           net::socket_error_text(failure_error));
        }
        console.finish();
        return exit_failure;
    }

    if (options.timeout) {
        session.reply_timeout = options.timeout->value;
        session.reply_timeout_text = options.timeout->text;
    }
    session.exit_on_error = options.exit_on_error;

    std::unique_ptr<LineSource> lines;
    if (!options.commands.empty()) {
        lines = std::make_unique<ListLineSource>(options.commands);
    } else if (console.mode().editor_prompt) {
        lines = make_line_editor(console, history_file());
    }
    if (!lines) {
        lines = std::make_unique<DescriptorLineSource>(platform::standard_input);
    }
    const LoopEnd end = command_loop(session, *lines);
    console.finish();
    switch (end) {
    case LoopEnd::quit:
    case LoopEnd::input_ended:
    case LoopEnd::terminated:
        return exit_ok;
    case LoopEnd::connection_lost:
    case LoopEnd::timed_out:
    case LoopEnd::input_failed:
    case LoopEnd::output_failed:
        break;
    case LoopEnd::command_failed:
        return exit_command_failed;
    }
    return exit_failure;
}

} // namespace

int run(int argc, char* argv[]) {
    platform::open_missing_standard_descriptors();
    std::ios::sync_with_stdio(false);

    const CommandLine command_line = parse_options(argc, argv);
    ConsoleMode mode;
    mode.quiet = command_line.options.quiet;
    mode.shows_each_chunk = platform::is_terminal(platform::standard_output);
    mode.interactive = platform::is_terminal(platform::standard_input);
    // Quiet, there are no prompts to draw; with -c, no lines to edit.
    mode.editor_prompt = mode.interactive && mode.shows_each_chunk && !mode.quiet &&
                         command_line.options.commands.empty() && line_editor_available();
    StopPolicy policy(mode.interactive);
    Session session(policy, platform::standard_output, std::cerr, mode);
    policy.before_ending([&session] { session.write_out_before_ending(); });

    int status = exit_failure;
    try {
        status = run_session(session, argc, argv, command_line);
    } catch (const std::bad_alloc&) {
        session.write_out();
        session.console().report(texts::out_of_memory);
        return exit_failure;
    }
    // Output that never arrived (a full disk behind standard output, say) must
    // not pass for a clean run in a script.
    session.console().flush();
    return session.console().report_output_failure() ? exit_failure : status;
}

} // namespace cmdclient
