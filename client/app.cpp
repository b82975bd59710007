#include "client/app.h"

#include "client/arguments.h"
#include "client/command_loop.h"
#include "client/platform/files.h"
#include "client/platform/terminal.h"
#include "client/history_file.h"
#include "client/line_editor.h"
#include "client/server_address.h"
#include "client/session.h"
#include "client/texts.h"
#include "net/lookup.h"
#include "net/platform.h"
#include "net/wait.h"

#include <new>
#include <optional>
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

// What one attempt to reach the server came to.
struct Attempt {
    Outcome outcome = Outcome::failed; // going_on, failed or stopped
    std::vector<std::string> reasons;  // why it failed, one line each
    std::string message = net::socket_message::could_not_connect;
    bool again = false; // a later attempt may do better
};

// One attempt: the host text read (looked up when asked for), then a connect
// to each of its addresses in turn, each bounded by --connect-timeout, until
// one takes the connection (its name becomes the session's peer).
Attempt attempt_connect(Session& session, const CommandLine& line) {
    const Options& options = line.options;
    const auto connect_deadline = [&options] {
        return net::deadline_after(options.connect_timeout
                                       ? std::optional<double>(options.connect_timeout->value)
                                       : std::nullopt);
    };
    HostReading reading;
    reading.lookup = options.lookup;
    reading.family = options.family;
    reading.deadline = connect_deadline();
    if (options.connect_timeout) {
        reading.timeout_text = options.connect_timeout->text;
    }
    const ServerAddress address = server_address(line.host, line.port, reading);
    Attempt attempt;
    if (address.stopped) {
        attempt.outcome = Outcome::stopped;
        return attempt;
    }
    if (address.candidates.empty()) {
        attempt.reasons.push_back(address.problem);
        attempt.again = address.again;
        return attempt;
    }
    for (const net::Endpoint& candidate : address.candidates) {
        const std::string peer = address.named_by_address ? candidate.text() : address.peer;
        try {
            session.connection = std::make_unique<SocketConnection>(candidate, connect_deadline());
            session.peer = peer;
            attempt.outcome = Outcome::going_on;
            return attempt;
        } catch (const net::SocketException& failure) {
            const int error = net::last_socket_error();
            if (net::pending_stop_signal() != 0) {
                attempt.outcome = Outcome::stopped;
                return attempt;
            }
            // The fixed text of a failed connect, unless no socket could even
            // be made for any address.
            if (attempt.reasons.empty() ||
                attempt.message != net::socket_message::could_not_connect) {
                attempt.message = failure.message();
            }
            attempt.again = attempt.again || net::connect_may_succeed_later(error);
            attempt.reasons.push_back("cannot connect to " + peer + ": " +
                                      net::socket_error_text(error));
        }
    }
    return attempt;
}

// Connects to the server, trying again after a pause as --retry asks while
// the failure may pass: going_on, failed (reported: the fixed text on the
// console, each reason on standard error) or stopped. Each failed attempt but
// the last says why, and when the next one comes, on standard error.
Outcome connect(Session& session, const CommandLine& line) {
    const Options& options = line.options;
    const int attempts = options.retries + 1;
    for (int number = 1;; ++number) {
        Attempt attempt = attempt_connect(session, line);
        if (attempt.outcome != Outcome::failed) {
            return attempt.outcome;
        }
        if (!attempt.again || number >= attempts) {
            session.console.show_failure(texts::connect_failed + attempt.message + "\n");
            for (const std::string& reason : attempt.reasons) {
                session.console.report(reason);
            }
            return Outcome::failed;
        }
        attempt.reasons.back() += texts::retrying + options.retry_delay.text + " s (attempt " +
                                  std::to_string(number) + " of " + std::to_string(attempts) + ")";
        for (const std::string& reason : attempt.reasons) {
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

// A session at a terminal, not quiet and without -c, has the line editor
// draw its prompts and edit its lines.
bool wants_line_editor(const ConsoleMode& mode, const CommandLine& line) {
    return line.action == CommandLine::Action::run && mode.interactive && mode.shows_each_chunk &&
           !mode.quiet && line.options.commands.empty();
}

Outcome run_session(Session& session, const char* program, const CommandLine& line) {
    Console& console = session.console;
    using Action = CommandLine::Action;
    switch (line.action) {
    case Action::usage:
        console.show(naming(texts::usage, program));
        // A person, not a script, gets a pointer to the help.
        if (platform::is_terminal(platform::standard_error)) {
            console.report(texts::see_help);
        }
        return Outcome::failed;
    case Action::help:
        console.show(texts::help);
        return Outcome::ended;
    case Action::version:
        console.show("cmdclient " CMDCLIENT_VERSION "\n");
        return Outcome::ended;
    case Action::bad_option:
        console.report(line.error + "; " + naming(texts::options_usage, program));
        return Outcome::failed;
    case Action::no_port:
        console.show(naming(texts::no_port, program));
        return Outcome::failed;
    case Action::run:
        break;
    }
    const Options& options = line.options;
    if (options.lookup && !net::lookup_available()) {
        console.report(options.lookup_option + texts::not_in_this_build);
        return Outcome::failed;
    }
    if (options.log_file && !console.open_log(*options.log_file, options.timestamps)) {
        return Outcome::failed;
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
    Outcome outcome = connect(session, line);
    if (outcome == Outcome::going_on) {
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
        outcome = command_loop(session, *lines);
    }
    if (outcome != Outcome::stopped) {
        console.finish();
    }
    return outcome;
}

} // namespace

int run(int argc, char* argv[]) {
    platform::open_missing_standard_descriptors();
    // An empty argument vector is possible when another program starts us.
    const char* program = argc > 0 && argv[0] != nullptr ? argv[0] : "cmdclient";
    const CommandLine line = read_command_line(argc, argv);
    ConsoleMode mode;
    mode.quiet = line.options.quiet;
    mode.shows_each_chunk = platform::is_terminal(platform::standard_output);
    mode.interactive = platform::is_terminal(platform::standard_input);
    // Quiet, there are no prompts to draw; with -c, no lines to edit. Only
    // then is the line editor loaded.
    mode.editor_prompt = wants_line_editor(mode, line) && line_editor_available();
    // Lines typed at a terminal are on the screen already.
    mode.echoes_lines = line.options.echo && !mode.quiet &&
                        (!line.options.commands.empty() || !mode.interactive);
    Console console(platform::standard_output, platform::standard_error, mode);
    Session session(console);

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
    if (net::pending_stop_signal() != 0 && !stop_cancels(mode.interactive, false)) {
        outcome = Outcome::stopped;
    }
    if (outcome == Outcome::stopped) {
        // The one place the run ends by a signal: what arrived is written out
        // first, the reply file (it never waits) before the console, as far
        // as that can be done without waiting long.
        const int signal = net::take_stop_signal();
        const auto deadline = net::Clock::now() + ending_write_limit;
        session.reply_file.flush_before_ending(deadline);
        console.flush_before_ending(deadline);
        net::end_by_signal(signal);
        return 128 + signal;
    }
    // Output that never arrived (a full disk behind standard output, say) must
    // not pass for a clean run in a script.
    console.flush();
    return console.report_failure(console.output()) ? exit_status(Outcome::failed)
                                                    : exit_status(outcome);
}

} // namespace cmdclient
