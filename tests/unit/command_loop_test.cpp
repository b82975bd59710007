#include "client/command_loop.h"

#include "tests/unit/pipe_input.h"

#include <gtest/gtest.h>

#include <deque>
#include <sstream>
#include <string>
#include <vector>

namespace {

using cmdclient::LoopEnd;

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
    bool send_buffer_full() const noexcept override { return false; }
    bool read(std::string& text) override {
        if (chunks_.empty()) {
            throw net::SocketException("Could not read from socket.");
        }
        text = chunks_.front();
        chunks_.pop_front();
        return true;
    }
    bool holds_received() const noexcept override { return true; }
    net::Waitable waitable() const noexcept override { return net::nothing_to_wait_on; }
    int last_error() const noexcept override { return 0; }

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
    const char* shown; // standard output, the final newline included
    LoopEnd end;
};

void PrintTo(const LoopCase& c, std::ostream* out) {
    *out << c.name;
}

class CommandLoop : public testing::TestWithParam<LoopCase> {};

TEST_P(CommandLoop, SendsShowsAndEndsAsTheLinesSay) {
    const LoopCase& c = GetParam();
    std::ostringstream out;
    std::ostringstream err;
    cmdclient::ConsoleMode mode;
    mode.editor_prompt = c.editor_prompt;
    cmdclient::StopPolicy policy(false);
    cmdclient::Session session(policy, out, err, mode);
    std::vector<std::string> sent;
    session.attach(std::make_unique<ScriptedConnection>(c.chunks, sent), "server port 1");
    PipeInput input(c.input);
    cmdclient::DescriptorLineSource lines(input.fd());

    EXPECT_EQ(cmdclient::command_loop(session, lines), c.end);
    session.console().finish();
    EXPECT_EQ(sent, c.sent);
    EXPECT_EQ(out.str(), c.shown);
    EXPECT_EQ(err.str(), c.end == LoopEnd::connection_lost
                             ? "cmdclient: connection to server port 1 closed by the server\n"
                             : "");
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, CommandLoop,
    testing::Values(
        LoopCase{"reply", "regs\nquit\n", {"A=1\n", "Ok"}, false, {"regs"}, "Ok> A=1\nOk> \n",
                 LoopEnd::quit},
        LoopCase{"empty commands", "\n> f\n   > f\n", {}, false, {}, "Ok> Ok> Ok> Ok> \n",
                 LoopEnd::input_ended},
        LoopCase{"terminate", "terminate\nregs\n", {"bye\nOk"}, false, {"terminate"},
                 "Ok> bye\nOk> \n", LoopEnd::terminated},
        LoopCase{"lost", "regs\nnext\n", {"part"}, false, {"regs"}, "Ok> partException!\n\n",
                 LoopEnd::connection_lost},
        LoopCase{"split marker", "a\nb\n", {"x O", "k", "Syntax error"}, false, {"a", "b"},
                 "Ok> x Ok> Syntax error\nOk> \n", LoopEnd::input_ended},
        // Where the editor draws "Ok> ", the reply's closing "Ok" is not shown,
        // not even split, and a prompt left at the end is shown plainly.
        LoopCase{"editor prompt", "a\nb\nterminate\n", {"x O", "k", "Syntax error", "y\nOk"},
                 true, {"a", "b", "terminate"}, "x Syntax error\ny\nOk> \n",
                 LoopEnd::terminated}));

} // namespace
