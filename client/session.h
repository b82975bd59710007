// One run's console session: the connection, the console, the reply file and
// the options that shape every exchange. Nothing about a run lives outside
// it; what one command does is the exchange's business.
#pragma once

#include "client/connection.h"
#include "client/console.h"
#include "client/outcome.h"
#include "client/output.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace cmdclient {

struct Session {
    explicit Session(Console& console) : console(console) {}

    // Writes out the console and the reply file; before the client waits.
    void write_out() {
        console.flush();
        reply_file.flush();
    }

    Console& console;
    // A reply file is written in large pieces: fewer writes than the console's.
    Output reply_file{"reply file", std::size_t{256} << 10};
    std::unique_ptr<Connection> connection;
    std::string peer; // names the server in messages: "HOST port PORT"
    // How long a reply may go without a byte, and the text that says so in
    // messages; none: no limit.
    std::optional<double> reply_timeout;
    std::string reply_timeout_text;
    // Stop at the first "Syntax error" reply (nothing more is sent).
    bool exit_on_error = false;
    // --reconnect: connects again as at the start (going_on, failed: reported,
    // or stopped); none: a lost connection ends the run.
    std::function<Outcome()> connect_again;
    // A reply was lost and the session went on over a new connection: the
    // run cannot end as a clean one.
    bool reply_lost = false;
    // -r, -i: how often each command is sent (0: until stopped), and the
    // pause in seconds between the repetitions of one line.
    int repeat = 1;
    double repeat_interval = 0;
    // --timing: each reply's time, on standard error.
    bool timing = false;
    // The text of the chunk being relayed, kept so its storage is reused.
    std::string chunk;
};

} // namespace cmdclient
