// One run's console session: the options, the connection, the console and the
// reply file. What one command does is the exchange's business.
#pragma once

#include "client/arguments.h"
#include "client/connection.h"
#include "client/console.h"
#include "client/outcome.h"
#include "client/output.h"

#include <functional>
#include <memory>
#include <string>

namespace cmdclient {

struct Session {
    Session(Console& console, const Options& options) : console(console), options(options) {}

    // Before the client waits.
    void write_out() {
        console.flush();
        reply_file.flush();
    }

    Console& console;
    const Options& options;
    // A reply file is written in large pieces: fewer writes than the console's.
    Output reply_file{"reply file", std::size_t{256} << 10};
    std::unique_ptr<Connection> connection;
    std::string peer; // names the server in messages: "HOST port PORT"
    // --reconnect: connects again as at the start; none: a lost connection ends the run.
    std::function<Outcome()> connect_again;
    // A reply was lost and the session went on: the run cannot end as a clean one.
    bool reply_lost = false;
    std::string chunk; // the chunk being relayed, kept so its storage is reused
};

} // namespace cmdclient
