// One run's console session in the style of a small blocking client: it owns
// the connection, the redirect file with its buffer, and the console with its
// output buffer and terminal mode. Nothing about a run lives outside it.
#pragma once

#include "client/connection.h"
#include "client/console.h"
#include "client/reply_relay.h"

#include <fstream>
#include <memory>
#include <string>
#include <string_view>

namespace cmdclient {

class Session final : private net::ReceiveWaiter {
  public:
    template <typename... ConsoleArguments>
    explicit Session(ConsoleArguments&&... console_arguments)
        : console_(std::forward<ConsoleArguments>(console_arguments)...) {
        use_large_file_buffer();
    }

    Console& console() noexcept { return console_; }
    // `peer` names the server in messages: "HOST port PORT".
    void attach(std::unique_ptr<Connection> connection, std::string peer) {
        connection_ = std::move(connection);
        peer_ = std::move(peer);
    }

    // One command's round trip: sends `command` once (a failed send is not
    // retried, and the reply is still awaited), then relays the reply to the
    // console or, when `target` is not "stdout", into that file, replaced
    // afresh, and leaves the next prompt. A file that cannot be opened or
    // written costs one line on standard error; the reply is still consumed.
    ReplyEnd exchange(const std::string& command, const std::string& target);

    // Acts on a recorded stop signal, if any. At a terminal, Ctrl-C during a
    // reply starts discarding it (true then), and at the prompt it is left to
    // the caller (true). Any other stop signal ends the process by the signal
    // once everything received has been written out.
    bool act_on_signal(bool at_prompt);

    // Writes out the console and the redirect file; used before waiting and
    // before the process ends.
    void write_out();

    // Called by the relay for each piece of the reply.
    void write(std::string_view text);
    bool strips_marker() const noexcept { return strip_marker_; }
    void after_chunk();

  private:
    void before_waiting() override;
    void interrupted() override;
    bool worth_looking_first() override;
    void use_large_file_buffer();
    bool open_redirect(const std::string& target);
    void close_redirect(const std::string& target);
    void note_file_error();
    void start_discarding();

    Console console_;
    std::unique_ptr<Connection> connection_;
    std::string peer_;
    std::ofstream file_;
    std::unique_ptr<char[]> file_buffer_;
    std::string chunk_;
    // The current reply.
    bool to_console_ = true;
    bool file_open_ = false;
    bool strip_marker_ = false;
    bool discarding_ = false;
    bool reply_started_ = false;
    int file_error_ = 0;
};

} // namespace cmdclient
