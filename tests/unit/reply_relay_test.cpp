#include "client/reply_relay.h"

#include <gtest/gtest.h>

#include <deque>
#include <ostream>
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
    bool operator()(std::string& chunk) {
        if (chunks_.empty()) {
            chunk.clear();
            return false;
        }
        chunk = chunks_.front();
        chunks_.pop_front();
        return true;
    }
    std::size_t left() const { return chunks_.size(); }

  private:
    std::deque<std::string> chunks_;
};

struct RecordingSink {
    bool strip = false;
    std::string written;
    void write(std::string_view text) { written += text; }
    void write_held(std::string_view text) { write(text); }
    bool strips_marker() const { return strip; }
    std::size_t chunks_taken = 0;
    std::size_t stop_after = 0; // 0: never
    bool after_chunk() { return ++chunks_taken != stop_after; }
};

struct Relay {
    std::vector<std::string> chunks;
    const char* shown;    // what reaches a target that keeps the closing "Ok"
    const char* stripped; // what reaches one that leaves it out (a file)
    ReplyEnd end = ReplyEnd::end_marker;
    std::size_t left = 0;       // chunks the relay must leave unread
    std::size_t stop_after = 0; // the sink ends the relay after this many chunks (0: never)
};

void PrintTo(const Relay& relay, std::ostream* out) {
    for (const auto& chunk : relay.chunks) {
        *out << testing::PrintToString(chunk) << ' ';
    }
}

class RelayReply : public testing::TestWithParam<Relay> {};

TEST_P(RelayReply, WritesTheReplyAndStopsAtItsEnd) {
    const Relay& relay = GetParam();
    for (const bool strip : {false, true}) {
        ScriptedChunks chunks(relay.chunks);
        RecordingSink sink{strip, {}, 0, relay.stop_after};
        std::string chunk;
        EXPECT_EQ(cmdclient::relay_reply(chunks, chunk, sink), relay.end) << strip;
        EXPECT_EQ(sink.written, strip ? relay.stripped : relay.shown) << strip;
        EXPECT_EQ(chunks.left(), relay.left) << strip;
    }
}

constexpr auto lost = ReplyEnd::cut_short;
constexpr auto syntax = ReplyEnd::syntax_error;

INSTANTIATE_TEST_SUITE_P(
    Chunks, RelayReply,
    testing::Values(Relay{{"A=1F\nOk"}, "A=1F\nOk", "A=1F\n"},
                    Relay{{"A=1F\n", "Ok"}, "A=1F\nOk", "A=1F\n"}, Relay{{"Ok"}, "Ok", ""},
                    Relay{{"OkOk"}, "OkOk", "Ok"},
                    Relay{{"Syntax error"}, "Syntax error", "Syntax error", syntax},
                    // The "Ok" rule wins over the "Syntax error" one.
                    Relay{{"Syntax error\nOk"}, "Syntax error\nOk", "Syntax error\n"},
                    // A closing "Ok" cut between two receives ends the reply...
                    Relay{{"data O", "k", "next"}, "data Ok", "data ", ReplyEnd::end_marker, 1},
                    Relay{{"O", "k"}, "Ok", ""},
                    // ... an empty receive between the halves changes nothing ...
                    Relay{{"data O", "", "k"}, "data Ok", "data "},
                    // ... but only a receive of exactly "k" right after an "O".
                    Relay{{"O", "kk", "xO", "O", "Ok "}, "OkkxOOOk ", "OkkxOOOk ", lost},
                    Relay{{"k", "O", "x", "k", "OK", "ok", "Ok"}, "kOxkOKokOk", "kOxkOKok"},
                    // A held "O" is written after all when the reply is cut short.
                    Relay{{"part O"}, "part O", "part O", lost},
                    Relay{{"O", "Syntax error"}, "OSyntax error", "OSyntax error", syntax},
                    Relay{{"Syntax error ", "Syntax", " error", "Ok"},
                          "Syntax error Syntax errorOk", "Syntax error Syntax error"},
                    // Whatever follows the end marker belongs to the next reply.
                    Relay{{"Ok", "next"}, "Ok", "", ReplyEnd::end_marker, 1},
                    Relay{{}, "", "", lost},
                    // A sink that ends the relay gets the held "O" too, and no more.
                    Relay{{"a", "b O", "c"}, "ab O", "ab O", lost, 1, 2}));

} // namespace
