#include "client/command_loop.h"

#include "client/command_grammar.h"
#include "client/console_platform.h"
#include "client/exchange.h"
#include "client/texts.h"

#include <string>

namespace cmdclient {

LoopEnd command_loop(Session& session, LineSource& lines) {
    Console& console = session.console();
    std::string line;
    std::string command;
    std::string target;
    console.prompt();
    for (;;) {
        // Everything shown so far must be visible while we wait for the user;
        // once standard output fails, nothing more is sent.
        if (!console.flush() && console.report_output_failure()) {
            return LoopEnd::output_failed;
        }
        switch (lines.read(line)) {
        case LineRead::line:
            break;
        case LineRead::end:
            return LoopEnd::input_ended;
        case LineRead::interrupted:
            // Only a cancel comes back: any other stop signal ends the run here.
            if (session.policy().act_on_recorded() == Waited::cancelled) {
                session.policy().take_cancel();
                // Like a shell: the typed line is dropped and a fresh prompt
                // starts on the next line (the editor has moved there itself).
                if (!console.mode().editor_prompt) {
                    console.show("\n");
                }
                console.prompt();
            }
            continue;
        case LineRead::failed:
            console.report(std::string(texts::cannot_read_input) + ": " +
                           platform::error_text(lines.error()));
            return LoopEnd::input_failed;
        }
        // The editor's drawing of the line may have found standard output failed.
        if (console.report_output_failure()) {
            return LoopEnd::output_failed;
        }
        command = line;
        split_redirection(command, target);
        if (command == grammar::quit) {
            lines.remember(line);
            return LoopEnd::quit;
        }
        if (command.empty()) {
            console.prompt();
            continue;
        }
        lines.remember(line);
        // The exchange leaves the next prompt: the reply's closing "Ok" starts it.
        switch (exchange(session, command, target)) {
        case ExchangeEnd::reply_ended:
            break;
        case ExchangeEnd::syntax_error:
            if (session.exit_on_error) {
                return LoopEnd::command_failed;
            }
            break;
        case ExchangeEnd::connection_lost:
            return LoopEnd::connection_lost;
        case ExchangeEnd::timed_out:
            return LoopEnd::timed_out;
        case ExchangeEnd::output_failed:
            console.report_output_failure();
            return LoopEnd::output_failed;
        }
        if (command == grammar::terminate) {
            return LoopEnd::terminated;
        }
    }
}

} // namespace cmdclient
