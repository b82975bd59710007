#include "client/exchange.h"

#include "client/command_grammar.h"
#include "client/platform/files.h"
#include "client/reply_relay.h"
#include "client/texts.h"

#include <algorithm>
#include <cstdio>
#include <utility>

namespace cmdclient {

namespace {

// After a send the system was short of memory or buffers for: not to spin.
constexpr std::chrono::milliseconds shortage_pause{10};

// Only a wait lets a stop signal in: a reply that is always there is looked
// for one after this many receives without a wait (at most 1 MiB).
constexpr unsigned receives_between_looks = 16;

// Why the connection could not go on (`error` 0: the server closed it).
std::string lost_reason(const Session& session, bool timed_out, int error) {
    if (timed_out) {
        return "no reply from " + session.peer + " for " + session.options.timeout->text + " s";
    }
    return "connection to " + session.peer +
           (error == 0 ? std::string(" closed by the server")
                       : " lost: " + net::socket_error_text(error));
}

// Says why the connection ended and connects again: going_on, failed, stopped.
Outcome reconnect(Session& session, const std::string& why) {
    session.console.report(why + texts::connecting_again);
    session.connection.reset();
    const Outcome outcome = session.connect_again();
    if (outcome == Outcome::going_on) {
        session.console.report("connected to " + session.peer + texts::connected_again);
    }
    return outcome;
}

// --timing: from the command's send to the end of its reply.
void report_time(Session& session, const std::string& command, net::Clock::time_point start,
                 bool cut_short) {
    if (!session.options.timing) {
        return;
    }
    const double seconds = std::chrono::duration<double>(net::Clock::now() - start).count();
    char took[48];
    std::snprintf(took, sizeof took, seconds < 1 ? "%.3f ms" : "%.3f s",
                  seconds < 1 ? seconds * 1000 : seconds);
    session.console.report_on_own_row("'" + command +
                                      "': " + (cut_short ? "cut short after " : "") + took);
}

// A lost reply: its time, "Exception!", `why`; with --reconnect (not with -e, nor
// after "terminate") a new connection for the next command: as reconnect().
Outcome lose_reply(Session& session, const std::string& command, const std::string& why,
                   net::Clock::time_point start) {
    report_time(session, command, start, true);
    session.console.show_failure(texts::receive_failed);
    if (!session.connect_again || session.options.exit_on_error || command == grammar::terminate) {
        session.console.report(why);
        return Outcome::failed;
    }
    session.reply_lost = true;
    const Outcome outcome = reconnect(session, why);
    if (outcome == Outcome::going_on) {
        session.console.prompt(); // for the next command
    }
    return outcome;
}

// The chunk source and sink of one reply's relay, deciding what stop signals mean.
class Reply {
  public:
    Reply(Session& session, bool to_console, bool cancelled)
        : session_(session), console_(session.console),
          out_(to_console ? console_.output() : session.reply_file), to_console_(to_console),
          // A file never gets the closing "Ok"; the console shows it as the prompt's
          // start unless the editor draws prompts, or quiet, or a log or time must come first.
          strip_marker_(!to_console || console_.mode().editor_prompt || session.options.quiet ||
                        console_.logging() || session.options.timing) {
        if (cancelled) {
            start_discarding();
        }
    }

    bool discarding() const noexcept { return discarding_; }
    // Why the relay was cut short: failed (lost(): the connection) or stopped.
    Outcome ending() const noexcept { return ending_; }
    const std::string& lost() const noexcept { return lost_; } // why, if it was

    bool read_chunk(std::string& chunk) {
        Connection& connection = *session_.connection;
        // Right after the send the answer is seldom there: wait, not receive, first.
        bool wait = std::exchange(first_, false) && !connection.holds_received();
        for (;; wait = false) {
            if (!wait) {
                // A chunk split from bytes received before came with the last one.
                with_last_ = connection.holds_received();
                if (!with_last_ && ++receives_without_wait_ % receives_between_looks == 0) {
                    net::look_for_stop_signal(); // after_chunk() decides
                }
                try {
                    if (connection.read(chunk)) {
                        return true;
                    }
                } catch (const net::SocketException&) {
                    const int error = net::last_socket_error();
                    // Shown before anything the relay still holds.
                    if (error != 0) {
                        char line[64];
                        std::snprintf(line, sizeof line, net::socket_message::receive_failed_format,
                                      error);
                        console_.show_failure(line);
                    }
                    lost_ = lost_reason(session_, false, error);
                    return end(Outcome::failed);
                }
                session_.write_out();
                if (console_.output().error() != 0) {
                    return end(Outcome::failed);
                }
            }
            receives_without_wait_ = 0;
            const net::WaitResult waited =
                net::wait_for(connection.waitable(), net::Direction::readable,
                              net::deadline_after(value_of(session_.options.timeout)));
            if (waited == net::WaitResult::timed_out || waited == net::WaitResult::failed) {
                lost_ = lost_reason(session_, waited == net::WaitResult::timed_out,
                                    net::last_socket_error());
                return end(Outcome::failed);
            }
            if (waited == net::WaitResult::stop_signal && !act_on_stop()) {
                return false;
            }
        }
    }

    void write(std::string_view text) {
        if (discarding_) {
            chunk_discarded_ = true;
            return;
        }
        show(text);
    }
    // Written even when discarding, if its chunk came before the Ctrl-C.
    void write_held(std::string_view text) {
        if (discarding_ && chunk_discarded_) {
            return;
        }
        show(text);
        if (discarding_ && to_console_) {
            console_.break_line(); // it stands before the next prompt
        }
    }
    bool strips_marker() const noexcept { return strip_marker_; }
    bool after_chunk() {
        if (net::pending_stop_signal() != 0 && !act_on_stop()) {
            return false;
        }
        if (to_console_ && console_.mode().shows_each_chunk) {
            console_.flush();
        }
        return console_.output().error() == 0 || end(Outcome::failed);
    }

  private:
    void show(std::string_view text) {
        out_.write(text);
        if (to_console_ && console_.logging()) {
            // The log takes what the console shows, stamped by its arrival.
            with_last_ ? console_.log().write_with_last(text) : console_.log().write(text);
            with_last_ = true; // the rest of this chunk
        }
    }

    bool end(Outcome outcome) {
        ending_ = outcome;
        return false;
    }

    bool act_on_stop() {
        if (!stop_cancels(console_.mode().interactive, discarding_)) {
            return end(Outcome::stopped);
        }
        net::take_stop_signal();
        start_discarding();
        return true;
    }

    void start_discarding() {
        // What arrived before the interrupt stays.
        console_.break_line();
        session_.write_out();
        discarding_ = true;
        console_.report(texts::discarding_reply);
    }

    Session& session_;
    Console& console_;
    Output& out_;
    bool to_console_;
    bool strip_marker_;
    bool first_ = true;
    unsigned receives_without_wait_ = 0;
    bool with_last_ = false; // the chunk came in the receive of the one before
    bool discarding_ = false;
    bool chunk_discarded_ = false; // a chunk came after the Ctrl-C
    Outcome ending_ = Outcome::going_on;
    std::string lost_;
};

// Sends all of `command`: going_on, failed (`lost` says why) or stopped. A
// Ctrl-C meanwhile sets `cancelled`: the reply is to be discarded.
Outcome send_command(Session& session, const std::string& command, std::string& lost,
                     bool& cancelled) {
    Connection& connection = *session.connection;
    std::string_view rest(command);
    net::Deadline progress_deadline = net::deadline_after(value_of(session.options.timeout));
    while (!rest.empty()) {
        std::size_t sent = 0;
        try {
            sent = connection.write(rest);
        } catch (const net::SocketException&) {
            lost = lost_reason(session, false, net::last_socket_error());
            return Outcome::failed;
        }
        if (sent > 0) {
            rest.remove_prefix(sent);
            progress_deadline = net::deadline_after(value_of(session.options.timeout));
            continue;
        }
        const bool full = net::would_block(net::last_socket_error());
        net::Deadline deadline = progress_deadline;
        if (!full) { // short of memory or buffers: pause, and try again
            const auto pause_end = net::Clock::now() + shortage_pause;
            deadline = deadline ? std::min(*deadline, pause_end) : pause_end;
        }
        const net::WaitResult waited =
            net::wait_for(full ? connection.waitable() : net::nothing_to_wait_on,
                          net::Direction::writable, deadline);
        if (waited == net::WaitResult::failed ||
            (waited == net::WaitResult::timed_out && progress_deadline &&
             net::Clock::now() >= *progress_deadline)) {
            lost = lost_reason(session, waited == net::WaitResult::timed_out,
                               net::last_socket_error());
            return Outcome::failed;
        }
        if (waited == net::WaitResult::stop_signal) {
            if (!stop_cancels(session.console.mode().interactive, cancelled)) {
                return Outcome::stopped;
            }
            net::take_stop_signal();
            cancelled = true;
        }
    }
    return Outcome::going_on;
}

} // namespace

Outcome exchange(Session& session, const std::string& command, const std::string& target) {
    Console& console = session.console;
    // Nothing is sent whose reply could not be shown.
    console.flush();
    if (!console.output().check_reader()) {
        return Outcome::failed;
    }
    // --reconnect: a connection the server ended meanwhile is made again first.
    if (session.connect_again && session.connection->has_ended()) {
        const Outcome connected =
            reconnect(session, lost_reason(session, false, net::last_socket_error()));
        if (connected != Outcome::going_on) {
            return connected;
        }
    }
    const auto start = net::Clock::now();
    std::string lost;
    bool cancelled = false;
    const Outcome sent = send_command(session, command, lost, cancelled);
    if (sent != Outcome::going_on) {
        return sent == Outcome::failed ? lose_reply(session, command, lost, start) : sent;
    }

    const bool to_console = target == grammar::console_target;
    // With -e a failed reply file stops the run, and the loop names its failure.
    const bool exit_on_error = session.options.exit_on_error;
    if (!to_console) {
        // Messages name the file as opened: "~/" in its place is the home folder.
        const std::string path = platform::expand_home(target);
        if (!session.reply_file.open(path, "reply file '" + path + "'") && !exit_on_error) {
            console.report_failure(session.reply_file);
        }
    }
    Reply reply(session, to_console, cancelled);
    const ReplyEnd end = relay_reply([&reply](std::string& text) { return reply.read_chunk(text); },
                                     session.chunk, reply);
    if (reply.ending() == Outcome::stopped) {
        if (exit_on_error) {
            console.report_failure(session.reply_file);
        }
        return Outcome::stopped; // what arrived is written out as the run ends
    }
    session.reply_file.close();
    if (!exit_on_error || end == ReplyEnd::cut_short) {
        console.report_failure(session.reply_file);
    }
    if (end == ReplyEnd::cut_short) {
        if (reply.lost().empty()) {
            return reply.ending();
        }
        session.write_out();
        return lose_reply(session, command, reply.lost(), start);
    }
    report_time(session, command, start, false);
    const bool syntax_error = end == ReplyEnd::syntax_error;
    if (syntax_error) {
        // Quiet, only text that went to the console is ended by the newline.
        to_console ? console.show(texts::after_syntax_error)
                   : console.show_unless_quiet(texts::after_syntax_error);
    }
    if (syntax_error || reply.strips_marker() || reply.discarding()) {
        console.prompt();
    } else {
        console.show(texts::prompt_rest);
    }
    return exit_on_error && (syntax_error || session.reply_file.error() != 0)
               ? Outcome::command_failed
               : (reply.discarding() ? Outcome::cancelled : Outcome::going_on);
}

} // namespace cmdclient
