#include "client/command_loop.h"

#include "client/command_grammar.h"
#include "client/exchange.h"
#include "client/texts.h"

#include <string>

namespace cmdclient {

namespace {

// Sends the command of `line` as -r and -i ask (once for "terminate"): going_on,
// or the first outcome that ends the run. Ctrl-C at a terminal ends the repeats.
Outcome send_repeatedly(Session& session, const std::string& line, const std::string& command,
                        const std::string& target) {
    Console& console = session.console;
    // -r 0 sends until stopped, counting nothing that could overflow.
    for (int left = session.options.repeat;;) {
        const Outcome outcome = exchange(session, command, target);
        if (outcome == Outcome::cancelled) {
            return Outcome::going_on;
        }
        if (outcome != Outcome::going_on || command == grammar::terminate ||
            (left != 0 && --left == 0)) {
            return outcome;
        }
        // The pause is the one wait, which hears stop signals.
        if (session.options.interval.value > 0 && net::pending_stop_signal() == 0) {
            session.write_out();
            net::wait_for(net::nothing_to_wait_on, net::Direction::readable,
                          net::deadline_after(session.options.interval.value));
        }
        if (net::pending_stop_signal() != 0) {
            if (!stop_cancels(console.mode().interactive, false)) {
                return Outcome::stopped;
            }
            net::take_stop_signal();
            console.break_line();
            console.prompt();
            return Outcome::going_on;
        }
        console.flush();
        if (console.output().error() != 0) {
            return Outcome::failed;
        }
        console.line_repeated(line);
    }
}

} // namespace

Outcome command_loop(Session& session, LineSource& lines) {
    Console& console = session.console;
    std::string line;
    std::string command;
    std::string target;
    std::size_t number = 0; // of the line read last, empty ones included
    console.prompt();
    for (;;) {
        // All shown is seen while the user types; failed output sends no more.
        console.flush();
        if (console.output().error() != 0) {
            return Outcome::failed;
        }
        switch (lines.read(line)) {
        case LineRead::line:
            break;
        case LineRead::end:
            return Outcome::ended;
        case LineRead::interrupted:
            if (!stop_cancels(console.mode().interactive, false)) {
                return Outcome::stopped;
            }
            net::take_stop_signal();
            // Like a shell: the typed line is dropped, a fresh prompt below.
            console.line_dropped();
            console.prompt();
            continue;
        case LineRead::failed:
            console.report(lines.failure());
            return Outcome::failed;
        }
        // The editor's drawing of the line may have found standard output failed.
        if (console.output().error() != 0) {
            return Outcome::failed;
        }
        ++number;
        console.line_read(line);
        command = line;
        split_redirection(command, target);
        if (command.empty()) {
            console.prompt();
            continue;
        }
        lines.remember(line);
        if (command == grammar::quit) {
            return Outcome::ended;
        }
        // A stop signal while the history was saved: nothing more is sent.
        if (net::pending_stop_signal() != 0 && !stop_cancels(console.mode().interactive, false)) {
            return Outcome::stopped;
        }
        // The exchange leaves the next prompt: the reply's closing "Ok" starts it.
        const Outcome outcome = send_repeatedly(session, line, command, target);
        if (outcome == Outcome::command_failed) {
            // Which command stopped the run, and why: a lost reply, or "Syntax error".
            const std::string why = session.reply_file.take_failure();
            console.report(lines.line_label(number) + ": '" + command +
                           "': " + (why.empty() ? texts::syntax_error : why));
        }
        if (outcome != Outcome::going_on || command == grammar::terminate) {
            return outcome == Outcome::going_on ? Outcome::ended : outcome;
        }
    }
}

} // namespace cmdclient
