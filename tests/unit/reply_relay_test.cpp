#include "client/reply_relay.h"

#include <gtest/gtest.h>

#include <deque>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using cmdclient::ReplyEnd;

// Plays a reply from chunks made in memory; once they run out, the connection
// counts as closed.
class ScriptedChunks {
  public:
    explicit ScriptedChunks(std::vector<std::string> chunks)
        : chunks_(chunks.begin(), chunks.end()) {}
    void operator()(std::string& chunk) {
        if (chunks_.empty()) {
            chunk.clear();
            throw net::SocketException("Could not read from socket.");
        }
        chunk = chunks_.front();
        chunks_.pop_front();
    }
    std::size_t left() const { return chunks_.size(); }

  private:
    std::deque<std::string> chunks_;
};

struct Relay {
    std::vector<std::string> chunks;
    const char* console;  // what the console shows
    const char* file;     // what a redirect file receives; null: reply to the console
    std::size_t left = 0; // chunks the relay must leave unread
    ReplyEnd end = ReplyEnd::end_marker;
};

void PrintTo(const Relay& relay, std::ostream* out) {
    for (const auto& chunk : relay.chunks) {
        *out << testing::PrintToString(chunk) << ' ';
    }
    *out << (relay.file == nullptr ? "to console" : "to file");
}

class RelayReply : public testing::TestWithParam<Relay> {};

TEST_P(RelayReply, RelaysChunksUntilTheEndMarker) {
    const Relay& relay = GetParam();
    ScriptedChunks chunks(relay.chunks);
    std::ostringstream console;
    std::ostringstream file;
    std::ostream& target = relay.file == nullptr ? console : file;
    std::string reply = "stale";
    const ReplyEnd end = cmdclient::relay_reply(chunks, reply, target, console, false);
    EXPECT_EQ(end, relay.end);
    EXPECT_EQ(console.str(), relay.console);
    EXPECT_EQ(file.str(), relay.file == nullptr ? "" : relay.file);
    EXPECT_EQ(chunks.left(), relay.left);
    EXPECT_EQ(reply, end == ReplyEnd::end_marker ? "Ok" : "");
}

INSTANTIATE_TEST_SUITE_P(
    ToConsole, RelayReply,
    testing::Values(Relay{{"A=1F\nOk"}, "A=1F\nOk> ", nullptr},
                    Relay{{"A=1F\n", "Ok"}, "A=1F\nOk> ", nullptr}, Relay{{"Ok"}, "Ok> ", nullptr},
                    Relay{{"Syntax error"}, "Syntax error\nOk> ", nullptr},
                    // The "Ok" rule wins over the "Syntax error" one.
                    Relay{{"Syntax error\nOk"}, "Syntax error\nOk> ", nullptr},
                    // Markers split across chunks or not at the very end do not count.
                    Relay{{"data O", "k", "more Ok"},
                          "data Ok"
                          "more Ok> ",
                          nullptr},
                    Relay{{"Ok\n", "OK", "ok", "Ok"}, "Ok\nOKokOk> ", nullptr},
                    Relay{{"Syntax error ", "Syntax", " error", "Ok"},
                          "Syntax error Syntax errorOk> ",
                          nullptr},
                    // Empty chunks (a zero first byte) and the rest stay unjudged.
                    Relay{{"", "k", "", "Ok"}, "kOk> ", nullptr},
                    // Whatever follows the end marker belongs to the next reply.
                    Relay{{"Ok", "next"}, "Ok> ", nullptr, 1},
                    Relay{{"part"}, "partException!\n", nullptr, 0, ReplyEnd::connection_lost},
                    Relay{{}, "Exception!\n", nullptr, 0, ReplyEnd::connection_lost}));

INSTANTIATE_TEST_SUITE_P(
    ToFile, RelayReply,
    testing::Values(Relay{{"A=1F\nOk"}, "Ok> ", "A=1F\n"},
                    Relay{{"A=1F\n", "B=2\n", "Ok"}, "Ok> ", "A=1F\nB=2\n"},
                    Relay{{"Syntax error"}, "\nOk> ", "Syntax error"},
                    Relay{{"OkOk"}, "Ok> ", "Ok"},
                    Relay{{"x", "y"}, "Exception!\n", "xy", 0, ReplyEnd::connection_lost},
                    Relay{{"Ok", "next"}, "Ok> ", "", 1}));

TEST(JudgeChunk, EndsOnlyOnTheTwoMarkers) {
    for (const char* chunk : {"", "O", "k", "OK", "oK", "Ok ", "Ok\n", "Syntax error\n",
                              "syntax error", " Syntax error"}) {
        EXPECT_FALSE(cmdclient::judge_chunk(chunk, true).ends_reply) << chunk;
        EXPECT_FALSE(cmdclient::judge_chunk(chunk, false).ends_reply) << chunk;
    }
}

} // namespace
