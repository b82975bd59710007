#include "client/command_loop.h"

#include "client/command_grammar.h"
#include "client/platform/files.h"
#include "client/exchange.h"
#include "client/texts.h"

#include <string>

namespace cmdclient {

Outcome command_loop(Session& session, LineSource& lines) {
    Console& console = session.console;
    std::string line;
    std::string command;
    std::string target;
    std::size_t number = 0; // of the line read last, empty ones included
    console.prompt();
    for (;;) {
        // Everything shown so far must be visible while we wait for the user;
        // once standard output fails, nothing more is sent.
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
            // Like a shell: the typed line is dropped and a fresh prompt
            // starts on the next line (the editor has moved there itself).
            console.line_dropped();
            console.prompt();
            continue;
        case LineRead::failed:
            console.report(std::string(texts::cannot_read_input) + ": " +
                           platform::error_text(lines.error()));
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
        if (command == grammar::quit) {
            lines.remember(line);
            return Outcome::ended;
        }
        if (command.empty()) {
            console.prompt();
            continue;
        }
        lines.remember(line);
        // A stop signal while the history was saved: nothing more is sent.
        if (net::pending_stop_signal() != 0 && !stop_cancels(console.mode().interactive, false)) {
            return Outcome::stopped;
        }
        // The exchange leaves the next prompt: the reply's closing "Ok" starts it.
        const Outcome outcome = exchange(session, command, target);
        if (outcome == Outcome::command_failed) {
            // Which command stopped the run, and why: a lost reply, or "Syntax error".
            std::string why = session.reply_file.take_failure();
            console.report(std::string(lines.line_name()) + " " + std::to_string(number) + ": '" +
                           command + "': " + (why.empty() ? texts::syntax_error : why));
        }
        if (outcome != Outcome::going_on) {
            return outcome;
        }
        if (command == grammar::terminate) {
            return Outcome::ended;
        }
    }
}

} // namespace cmdclient
