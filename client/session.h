// One run's console session: the connection, the console, the redirect file
// and the stop policy that every wait of the run goes through. Nothing about
// a run lives outside it; what one command does is the exchange's business.
#pragma once

#include "client/connection.h"
#include "client/console.h"
#include "client/redirect_file.h"
#include "client/stop_policy.h"

#include <memory>
#include <optional>
#include <string>

namespace cmdclient {

class Session {
  public:
    // `console_arguments` are the Console's, less the policy.
    template <typename... ConsoleArguments>
    explicit Session(StopPolicy& policy, ConsoleArguments&&... console_arguments)
        : policy_(policy), console_(std::forward<ConsoleArguments>(console_arguments)..., policy),
          file_(console_, policy) {}

    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // `peer` names the server in messages: "HOST port PORT".
    void attach(std::unique_ptr<Connection> connection, std::string peer) {
        connection_ = std::move(connection);
        peer_ = std::move(peer);
    }

    Console& console() noexcept { return console_; }
    RedirectFile& file() noexcept { return file_; }
    StopPolicy& policy() noexcept { return policy_; }
    Connection& connection() noexcept { return *connection_; }
    const std::string& peer() const noexcept { return peer_; }
    // The text of the chunk being relayed, kept so its storage is reused.
    std::string& chunk() noexcept { return chunk_; }

    // How long a reply may go without a byte, and the text that says so in
    // messages; none: no limit.
    std::optional<double> reply_timeout;
    std::string reply_timeout_text;
    // Stop at the first "Syntax error" reply (nothing more is sent).
    bool exit_on_error = false;

    // Writes out the console and the redirect file; before the client waits.
    void write_out() {
        console_.flush();
        file_.write_out();
    }

    // Writes out what can be written without waiting long, as the run ends by
    // a signal: the redirect file first (it never waits), then the console.
    void write_out_before_ending() {
        constexpr std::chrono::milliseconds limit{500};
        file_.write_out_before_ending(limit);
        console_.write_out_before_ending(limit);
    }

  private:
    StopPolicy& policy_;
    Console console_;
    RedirectFile file_;
    std::unique_ptr<Connection> connection_;
    std::string peer_;
    std::string chunk_;
};

} // namespace cmdclient
