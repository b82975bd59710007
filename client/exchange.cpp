#include "client/exchange.h"

#include "client/command_grammar.h"
#include "client/reply_relay.h"
#include "client/texts.h"

#include <cstdio>

namespace cmdclient {

namespace {

// Ends a reply early without a socket failure.
struct ReplyTimedOut {};
struct OutputFailed {};

// How long to pause after the system ran short of memory or network buffers
// for a send: long enough not to spin, short enough not to be noticed.
constexpr std::chrono::milliseconds shortage_pause{10};

// One reply's way from the connection to the console or the file: the
// relay's chunk source and its sink.
class Reply {
  public:
    Reply(Session& session, bool to_console)
        : session_(session), console_(session.console()), to_console_(to_console),
          // A file never gets the closing "Ok"; the console leaves it out only
          // when the line editor draws it as part of the prompt, or when quiet.
          strip_marker_(!to_console || console_.mode().editor_prompt || console_.mode().quiet) {}

    ~Reply() { session_.policy().cancel_ends_run(false); }

    Reply(const Reply&) = delete;
    Reply& operator=(const Reply&) = delete;

    bool discarding() const noexcept { return discarding_; }

    // The next chunk, waiting for it as long as it takes (or the timeout).
    void read_chunk(std::string& chunk) {
        Connection& connection = session_.connection();
        // Right after the command the answer is seldom there yet: wait at once
        // rather than spend a call to find nothing.
        bool wait = first_ && !connection.holds_received();
        first_ = false;
        for (;;) {
            if (!wait) {
                if (receive(connection, chunk)) {
                    return;
                }
                session_.write_out();
                if (console_.output_error() != 0) {
                    throw OutputFailed{};
                }
            }
            wait = false;
            switch (session_.policy().wait(connection.waitable(), net::Direction::readable,
                                           net::deadline_after(session_.reply_timeout))) {
            case Waited::ready:
                break;
            case Waited::cancelled:
                session_.policy().take_cancel();
                start_discarding();
                break;
            case Waited::timed_out:
                throw ReplyTimedOut{};
            case Waited::failed:
                throw net::SocketException(net::socket_message::could_not_read);
            }
        }
    }

    // The relay's sink.
    void write(std::string_view text) {
        if (discarding_) {
            return;
        }
        if (to_console_) {
            console_.show(text);
        } else {
            session_.file().write(text);
        }
    }
    bool strips_marker() const noexcept { return strip_marker_; }
    void after_chunk() {
        if (session_.policy().take_cancel()) {
            start_discarding();
        }
        if (to_console_ && console_.mode().shows_each_chunk) {
            console_.flush();
        }
        if (console_.output_error() != 0) {
            throw OutputFailed{};
        }
    }

  private:
    bool receive(Connection& connection, std::string& chunk) {
        try {
            return connection.read(chunk);
        } catch (const net::SocketException&) {
            // Shown where the receive failed: before anything the relay still holds.
            if (const int error = connection.last_error(); error != 0) {
                char line[64];
                std::snprintf(line, sizeof line, net::socket_message::receive_failed_format, error);
                console_.show_failure(line);
            }
            throw;
        }
    }

    void start_discarding() {
        if (discarding_) {
            return;
        }
        // Whatever arrived before the interrupt stays: on screen, or in the file.
        session_.write_out();
        discarding_ = true;
        console_.report(texts::discarding_reply);
        session_.policy().cancel_ends_run(true);
    }

    Session& session_;
    Console& console_;
    bool to_console_;
    bool strip_marker_;
    bool first_ = true;
    bool discarding_ = false;
};

// Sends all of `command`, waiting while the connection takes nothing. False
// when the connection failed (or the timeout passed: `timed_out` true).
bool send_command(Session& session, const std::string& command, bool& timed_out) {
    Connection& connection = session.connection();
    std::string_view rest(command);
    net::Deadline progress_deadline = net::deadline_after(session.reply_timeout);
    while (!rest.empty()) {
        std::size_t sent = 0;
        try {
            sent = connection.write(rest);
        } catch (const net::SocketException&) {
            return false;
        }
        rest.remove_prefix(sent);
        if (sent > 0) {
            progress_deadline = net::deadline_after(session.reply_timeout);
            continue;
        }
        const bool full = connection.send_buffer_full();
        net::Deadline deadline = progress_deadline;
        if (!full) {
            const auto pause_end = net::Clock::now() + shortage_pause;
            if (!deadline || pause_end < *deadline) {
                deadline = pause_end;
            }
        }
        switch (session.policy().wait(full ? connection.waitable() : net::nothing_to_wait_on,
                                      net::Direction::writable, deadline)) {
        case Waited::ready:
        case Waited::cancelled: // the reply, once it comes, is discarded
            break;
        case Waited::timed_out:
            if (progress_deadline && net::Clock::now() >= *progress_deadline) {
                timed_out = true;
                return false;
            }
            break;
        case Waited::failed:
            return false;
        }
    }
    return true;
}

void report_lost(Session& session, bool timed_out) {
    Console& console = session.console();
    console.show_failure(texts::receive_failed);
    if (timed_out) {
        console.report("no reply from " + session.peer() + " for " + session.reply_timeout_text +
                       " s");
        return;
    }
    const int error = session.connection().last_error();
    console.report("connection to " + session.peer() +
                   (error == 0 ? std::string(" closed by the server")
                               : " lost: " + net::socket_error_text(error)));
}

} // namespace

ExchangeEnd exchange(Session& session, const std::string& command, const std::string& target) {
    Console& console = session.console();
    bool timed_out = false;
    if (!send_command(session, command, timed_out)) {
        // Nothing of the reply can come over a connection that failed.
        report_lost(session, timed_out);
        return timed_out ? ExchangeEnd::timed_out : ExchangeEnd::connection_lost;
    }

    const bool to_console = target == grammar::console_target;
    if (!to_console) {
        session.file().open(target);
    }
    ExchangeEnd end = ExchangeEnd::reply_ended;
    bool discarded = false;
    bool stripped = false;
    {
        Reply reply(session, to_console);
        std::string& chunk = session.chunk();
        try {
            switch (relay_reply([&reply](std::string& text) { reply.read_chunk(text); }, chunk,
                                reply)) {
            case ReplyEnd::end_marker:
                end = ExchangeEnd::reply_ended;
                break;
            case ReplyEnd::syntax_error:
                end = ExchangeEnd::syntax_error;
                break;
            case ReplyEnd::connection_lost:
                end = ExchangeEnd::connection_lost;
                break;
            }
        } catch (const ReplyTimedOut&) {
            end = ExchangeEnd::timed_out;
        } catch (const OutputFailed&) {
            end = ExchangeEnd::output_failed;
        }
        discarded = reply.discarding();
        stripped = reply.strips_marker();
    }
    session.policy().take_cancel(); // a Ctrl-C as the reply ended cancels nothing more
    session.file().close();

    switch (end) {
    case ExchangeEnd::reply_ended:
        if (stripped || discarded) {
            console.prompt();
        } else {
            console.show(texts::prompt_rest);
        }
        break;
    case ExchangeEnd::syntax_error:
        // Quiet, only text that went to the console is ended by the newline.
        if (to_console || !console.mode().quiet) {
            console.show(texts::after_syntax_error);
        }
        console.prompt();
        break;
    case ExchangeEnd::connection_lost:
    case ExchangeEnd::timed_out:
        session.write_out();
        report_lost(session, end == ExchangeEnd::timed_out);
        break;
    case ExchangeEnd::output_failed:
        break;
    }
    return end;
}

} // namespace cmdclient
