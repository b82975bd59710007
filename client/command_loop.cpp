#include "client/command_loop.h"

#include "client/command_grammar.h"
#include "client/console_platform.h"
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
        // A stop signal that came between two waits is acted on here.
        if (session.act_on_signal(true)) {
            console.show("\n");
            console.prompt();
        }
        // Everything shown so far must be visible while we wait for the user.
        console.flush();
        switch (lines.read(line)) {
        case LineRead::line:
            break;
        case LineRead::end:
            return LoopEnd::input_ended;
        case LineRead::interrupted:
            if (session.act_on_signal(true)) {
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
        if (session.exchange(command, target) == ReplyEnd::connection_lost) {
            return LoopEnd::connection_lost;
        }
        if (command == grammar::terminate) {
            return LoopEnd::terminated;
        }
    }
}

} // namespace cmdclient
