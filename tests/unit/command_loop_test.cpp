#include "client/command_loop.h"

#include "tests/unit/pipe_input.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <deque>
#include <stdexcept>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

using cmdclient::Outcome;

// What the client writes to a pipe, taken back after the run (small enough
// to fit the pipe).
class PipeOutput {
  public:
    PipeOutput() {
        if (::pipe(ends_) != 0 || ::fcntl(ends_[0], F_SETFL, O_NONBLOCK) != 0) {
            throw std::runtime_error("pipe");
        }
    }
    ~PipeOutput() {
        ::close(ends_[0]);
        ::close(ends_[1]);
    }
    int fd() const noexcept { return ends_[1]; }
    std::string taken() {
        std::string text;
        char piece[4096];
        for (ssize_t count; (count = ::read(ends_[0], piece, sizeof piece)) > 0;) {
            text.append(piece, static_cast<std::size_t>(count));
        }
        return text;
    }

  private:
    int ends_[2] = {-1, -1};
};

// A server made in memory: each command it is sent gets the next scripted
// reply, chunk by chunk; when the script runs out, the connection is closed.
class ScriptedConnection final : public cmdclient::Connection {
  public:
    explicit ScriptedConnection(std::vector<std::string> chunks, std::vector<std::string>& sent)
        : chunks_(chunks.begin(), chunks.end()), sent_(sent) {}
    std::size_t write(std::string_view text) override {
        sent_.emplace_back(text);
        return text.size();
    }
    bool read(std::string& text) override {
        if (chunks_.empty()) {
            net::set_last_socket_error(0); // closed by the server
            throw net::SocketException("Could not read from socket.");
        }
        text = chunks_.front();
        chunks_.pop_front();
        // A stop signal comes while the client waits for the rest of the reply.
        for (const int signal : {SIGINT, SIGTERM}) {
            if (text == strsignal(signal)) {
                std::raise(signal);
                return false;
            }
        }
        return true;
    }
    bool holds_received() const noexcept override { return true; }
    bool has_ended() noexcept override { return false; }
    net::Waitable waitable() const noexcept override { return net::nothing_to_wait_on; }

  private:
    std::deque<std::string> chunks_;
    std::vector<std::string>& sent_;
};

struct LoopCase {
    const char* name;
    const char* input;
    std::vector<std::string> chunks; // the server's receives, in order
    bool editor_prompt;              // the line editor draws the prompts
    std::vector<std::string> sent;
    const char* shown; // standard output, the final newline included unless stopped
    Outcome end;
    const char* error = ""; // standard error
    bool interactive = false;
};

constexpr const char* closed = "cmdclient: connection to server port 1 closed by the server\n";
constexpr const char* discarding =
    "cmdclient: interrupted: discarding the rest of the reply (Ctrl-C again to quit)\n";

void PrintTo(const LoopCase& c, std::ostream* out) {
    *out << c.name;
}

class CommandLoop : public testing::TestWithParam<LoopCase> {};

TEST_P(CommandLoop, SendsShowsAndEndsAsTheLinesSay) {
    const LoopCase& c = GetParam();
    PipeOutput out;
    PipeOutput err;
    cmdclient::ConsoleMode mode;
    mode.editor_prompt = c.editor_prompt;
    mode.interactive = c.interactive;
    net::catch_stop_signals();
    const cmdclient::Options options;
    cmdclient::Console console(out.fd(), err.fd(), options, mode);
    cmdclient::Session session(console, options);
    std::vector<std::string> sent;
    session.connection = std::make_unique<ScriptedConnection>(c.chunks, sent);
    session.peer = "server port 1";
    PipeInput input(c.input);
    cmdclient::DescriptorLineSource lines(input.fd());

    EXPECT_EQ(cmdclient::command_loop(session, lines), c.end);
    if (c.end == Outcome::stopped) {
        EXPECT_NE(net::take_stop_signal(), 0); // left for the entry point to act on
    } else {
        console.finish();
    }
    EXPECT_EQ(sent, c.sent);
    EXPECT_EQ(out.taken(), c.shown);
    EXPECT_EQ(err.taken(), c.error);
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, CommandLoop,
    testing::Values(
        LoopCase{"reply", "regs\nquit\n", {"A=1\n", "Ok"}, false, {"regs"}, "Ok> A=1\nOk> \n",
                 Outcome::ended},
        LoopCase{"empty commands", "\n> f\n   > f\n", {}, false, {}, "Ok> Ok> Ok> Ok> \n",
                 Outcome::ended},
        LoopCase{"terminate", "terminate\nregs\n", {"bye\nOk"}, false, {"terminate"},
                 "Ok> bye\nOk> \n", Outcome::ended},
        LoopCase{"lost", "regs\nnext\n", {"part"}, false, {"regs"}, "Ok> partException!\n\n",
                 Outcome::failed, closed},
        // Ctrl-C at a terminal discards the rest of the reply and the session
        // goes on; any other stop signal, or Ctrl-C from a script, ends it.
        LoopCase{"ctrl-c at a terminal", "regs\nnext\n",
                 {"part", strsignal(SIGINT), "rest", "Ok", "B\nOk"}, false, {"regs", "next"},
                 "Ok> partOk> B\nOk> \n", Outcome::ended, discarding, true},
        // An "O" held back before the Ctrl-C is decided by the next receive.
        LoopCase{"ctrl-c, held O then more", "regs\nnext\n",
                 {"partO", strsignal(SIGINT), "rest\nOk", "B\nOk"}, true, {"regs", "next"},
                 "partOB\nOk> \n", Outcome::ended, discarding, true},
        LoopCase{"ctrl-c, held O then k", "regs\nnext\n",
                 {"partO", strsignal(SIGINT), "k", "B\nOk"}, true, {"regs", "next"},
                 "partB\nOk> \n", Outcome::ended, discarding, true},
        LoopCase{"ctrl-c, held O then lost", "regs\nnext\n", {"partO", strsignal(SIGINT)}, true,
                 {"regs"}, "partOException!\nOk> \n", Outcome::failed,
                 "cmdclient: interrupted: discarding the rest of the reply (Ctrl-C again to "
                 "quit)\ncmdclient: connection to server port 1 closed by the server\n",
                 true},
        LoopCase{"ctrl-c in a script", "regs\nnext\n", {"part", strsignal(SIGINT), "Ok"}, false,
                 {"regs"}, "Ok> part", Outcome::stopped},
        LoopCase{"sigterm at a terminal", "regs\n", {"part", strsignal(SIGTERM), "Ok"}, false,
                 {"regs"}, "Ok> part", Outcome::stopped, "", true},
        LoopCase{"split marker", "a\nb\n", {"x O", "k", "Syntax error"}, false, {"a", "b"},
                 "Ok> x Ok> Syntax error\nOk> \n", Outcome::ended},
        // Where the editor draws "Ok> ", the reply's closing "Ok" is not shown,
        // not even split, and a prompt left at the end is shown plainly.
        LoopCase{"editor prompt", "a\nb\nterminate\n", {"x O", "k", "Syntax error", "y\nOk"},
                 true, {"a", "b", "terminate"}, "x Syntax error\ny\nOk> \n",
                 Outcome::ended}));

// A reply that is always there: every read is a system receive that finds a
// chunk, so the relay never waits. A SIGTERM comes after the tenth read and
// stays held back; the connection closes after `limit` reads.
class EndlessConnection final : public cmdclient::Connection {
  public:
    std::size_t write(std::string_view text) override { return text.size(); }
    bool read(std::string& text) override {
        if (++reads == limit) {
            net::set_last_socket_error(0);
            throw net::SocketException("Could not read from socket.");
        }
        if (reads == 10) {
            std::raise(SIGTERM);
        }
        text = "y";
        return true;
    }
    bool holds_received() const noexcept override { return false; }
    bool has_ended() noexcept override { return false; }
    // Always readable, like a socket with a reply waiting.
    net::Waitable waitable() const noexcept override { return net::waitable_descriptor(ready_); }

    ~EndlessConnection() override { ::close(ready_); }

    static constexpr int limit = 100000;
    int reads = 0;

  private:
    int ready_ = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
};

TEST(BusyRelay, HearsAStopSignalThatNoWaitLetsIn) {
    // Output that never waits, so that no wait can let the signal in.
    const int nowhere = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    PipeOutput err;
    net::catch_stop_signals();
    const cmdclient::Options options;
    cmdclient::Console console(nowhere, err.fd(), options, {});
    cmdclient::Session session(console, options);
    auto connection = std::make_unique<EndlessConnection>();
    EndlessConnection& endless = *connection;
    session.connection = std::move(connection);
    PipeInput input("dump\n");
    cmdclient::DescriptorLineSource lines(input.fd());

    EXPECT_EQ(cmdclient::command_loop(session, lines), Outcome::stopped);
    EXPECT_EQ(net::take_stop_signal(), SIGTERM);
    EXPECT_LT(endless.reads, 10 + 20); // heard within a few receives
    ::close(nowhere);
}

} // namespace
