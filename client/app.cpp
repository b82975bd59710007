#include "client/app.h"

#include "client/arguments.h"
#include "client/command_loop.h"
#include "client/history_file.h"
#include "client/line_editor.h"
#include "client/platform/files.h"
#include "client/platform/terminal.h"
#include "client/server_address.h"
#include "client/session.h"
#include "client/texts.h"
#include "net/lookup.h"
#include "net/platform.h"
#include "net/wait.h"

#include <cstring>
#include <new>
#include <string>

namespace cmdclient {

namespace {

// How long the run, ending by a signal, may still wait for its output.
constexpr std::chrono::milliseconds ending_write_limit{500};

// One of the texts that name the program: `program` in place of its "%s".
std::string naming(const char* text, const char* program) {
    std::string line = text;
    return line.replace(line.find("%s"), 2, program);
}

// Connects, trying again after a pause as --retry asks while the failure may
// pass: going_on, failed or stopped. Each attempt reads the host text (looked
// up if asked), then connects to each address in turn, each bounded by
// --connect-timeout, until one takes. A failed attempt says why on standard
// error (and when the next comes); the last, the fixed text on the console.
Outcome connect(Session& session) {
    const Options& options = session.options;
    const auto connect_deadline = [&options] {
        return net::deadline_after(value_of(options.connect_timeout));
    };
    const int attempts = options.retries + 1;
    for (int number = 1;; ++number) {
        const ServerAddress address = server_address(options, connect_deadline());
        if (address.stopped) {
            return Outcome::stopped;
        }
        std::vector<std::string> reasons; // why it failed, one line each
        if (address.candidates.empty()) {
            reasons.push_back(address.problem);
        }
        std::string message = net::socket_message::could_not_connect;
        bool again = address.again; // a later attempt may do better
        for (const net::Endpoint& candidate : address.candidates) {
            const std::string peer = address.named_by_address ? candidate.text() : address.peer;
            try {
                session.connection =
                    std::make_unique<SocketConnection>(candidate, connect_deadline());
                session.peer = peer;
                return Outcome::going_on;
            } catch (const net::SocketException& failure) {
                const int error = net::last_socket_error();
                if (net::pending_stop_signal() != 0) {
                    return Outcome::stopped;
                }
                // The fixed text of a failed connect, unless no socket could
                // even be made for any address.
                if (reasons.empty() || message != net::socket_message::could_not_connect) {
                    message = failure.message();
                }
                again = again || net::connect_may_succeed_later(error);
                reasons.push_back("cannot connect to " + peer + ": " +
                                  net::socket_error_text(error));
            }
        }
        if (!again || number >= attempts) {
            session.console.show_failure(texts::connect_failed + message + "\n");
            for (const std::string& reason : reasons) {
                session.console.report(reason);
            }
            return Outcome::failed;
        }
        reasons.back() += texts::retrying + options.retry_delay.text + " s (attempt " +
                          std::to_string(number) + " of " + std::to_string(attempts) + ")";
        for (const std::string& reason : reasons) {
            session.console.report(reason);
        }
        // The pause hears stop signals: one ends the run at once.
        if (options.retry_delay.value > 0) {
            net::wait_for(net::nothing_to_wait_on, net::Direction::readable,
                          net::deadline_after(options.retry_delay.value));
        }
        if (net::pending_stop_signal() != 0) {
            return Outcome::stopped;
        }
    }
}

// The -c commands and -f files as one source of lines, every file opened
// now, before anything is sent; null when one cannot be (reported).
std::unique_ptr<LineSource> open_script(Console& console, const Options& options) {
    std::vector<ScriptLineSource::File> files;
    for (const CommandFile& file : options.files) {
        // The name is as opened: "~/" in its place is the home folder.
        const int fd = file.name == "-" ? platform::standard_input
                                        : platform::open_command_file(file.name.c_str());
        if (fd < 0) {
            const int error = platform::last_error();
            const ScriptLineSource opened({}, std::move(files)); // closes those opened
            console.report(std::string(texts::cannot_open_command_file) + " '" + file.name +
                           "': " + platform::error_text(error));
            return nullptr;
        }
        files.push_back({file.after_commands, file.name, fd});
    }
    return std::make_unique<ScriptLineSource>(options.commands, std::move(files));
}

Outcome run_session(Session& session, const char* program, const CommandLine& line) {
    Console& console = session.console;
    using Action = CommandLine::Action;
    switch (line.action) {
    case Action::usage:
    case Action::no_port:
        console.show_failure(
            naming(line.action == Action::usage ? texts::usage : texts::no_port, program));
        // A person, not a script, gets a pointer to the help.
        if (line.action == Action::usage && platform::is_terminal(platform::standard_error)) {
            console.report(texts::see_help);
        }
        if (!line.error.empty()) {
            console.report(line.error);
        }
        return Outcome::failed;
    case Action::help:
        console.show(texts::help + options_help() + texts::help_end);
        return Outcome::ended;
    case Action::version:
        console.show("cmdclient " CMDCLIENT_VERSION "\n");
        return Outcome::ended;
    case Action::bad_option:
        console.report(line.error + "; " + naming(texts::options_usage, program));
        return Outcome::failed;
    case Action::run:
        break;
    }
    const Options& options = session.options;
    if (!options.lookup.empty() && !net::lookup_available()) {
        console.report(options.lookup.front() + texts::not_in_this_build);
        return Outcome::failed;
    }
    if (!console.open_log()) {
        return Outcome::failed;
    }
    std::unique_ptr<LineSource> lines;
    if (!options.commands.empty() || !options.files.empty()) {
        lines = open_script(console, options);
        if (!lines) {
            return Outcome::failed;
        }
    }
    if (!net::start_socket_library()) {
        return Outcome::failed;
    }
    // Set only when a session at a terminal wanted the editor and could not load it.
    if (const char* problem = line_editor_problem(); *problem != '\0') {
        console.report(std::string(texts::no_line_editor) + ": " + problem);
    }
    console.show_unless_quiet(texts::banner);
    // From here a stop signal is heard by every wait, the connect's included.
    platform::install_signal_handlers();
    Outcome outcome = connect(session);
    if (outcome == Outcome::going_on) {
        if (options.reconnect) {
            session.connect_again = [&session] { return connect(session); };
        }
        if (!lines && console.mode().editor_prompt) {
            lines = make_line_editor(console, history_file());
        }
        if (!lines) {
            lines = std::make_unique<DescriptorLineSource>(platform::standard_input);
        }
        outcome = command_loop(session, *lines);
        // A lost reply never passes for a clean run.
        if (outcome == Outcome::ended && session.reply_lost) {
            outcome = Outcome::failed;
        }
    }
    if (outcome != Outcome::stopped) {
        console.finish();
    }
    return outcome;
}

int run_client(int argc, char* argv[]) {
    // An empty argument vector is possible when another program starts us.
    const char* program = argc > 0 && argv[0] != nullptr ? argv[0] : "cmdclient";
    const CommandLine line = read_command_line(argc, argv);
    Console console(platform::standard_output, platform::standard_error, line.options,
                    console_mode(line.options, platform::is_terminal(platform::standard_output),
                                 platform::is_terminal(platform::standard_input)));
    Session session(console, line.options);

    Outcome outcome = Outcome::failed;
    try {
        outcome = run_session(session, program, line);
    } catch (const std::bad_alloc&) {
        session.write_out();
        console.report(texts::out_of_memory);
        return exit_status(Outcome::failed);
    }
    // A stop signal that came as the run was ending (into a write that was
    // cut short, say) still ends it, unless it would only have cancelled.
    if (net::pending_stop_signal() != 0 && !stop_cancels(console.mode().interactive, false)) {
        outcome = Outcome::stopped;
    }
    if (outcome == Outcome::stopped) {
        // The one place the run ends by a signal: what arrived is written out
        // first, the reply file (it never waits) before the console, briefly.
        const int signal = net::take_stop_signal();
        const auto deadline = net::Clock::now() + ending_write_limit;
        net::cut_blocking_calls_short_from(deadline);
        session.reply_file.flush_before_ending(deadline);
        console.flush_before_ending(deadline);
        net::end_by_signal(signal);
        return 128 + signal;
    }
    // Output that never arrived (a full disk behind standard output, say) must
    // not pass for a clean run in a script.
    console.flush();
    const bool output_failed = console.report_failure(console.output());
    console.close_log();
    return output_failed ? exit_status(Outcome::failed) : exit_status(outcome);
}

} // namespace

int run(int argc, char* argv[]) {
    platform::open_missing_standard_descriptors();
    // Every allocation of the run is inside: the console's own buffers too.
    try {
        return run_client(argc, argv);
    } catch (const std::bad_alloc&) {
        // No console stands to say it: one line, written without allocating.
        for (const char* text : {texts::error_prefix, texts::out_of_memory, "\n"}) {
            platform::write_some(platform::standard_error, text, std::strlen(text));
        }
        return exit_status(Outcome::failed);
    }
}

} // namespace cmdclient
