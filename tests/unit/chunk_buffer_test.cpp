#include "net/chunk_buffer.h"

#include "client/reply_relay.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// A connection whose system receives return these byte strings, in order,
// then the end of the stream.
struct ScriptedReceives {
    std::vector<std::string> receives;
    std::size_t next = 0;
    long operator()(char* buffer, std::size_t capacity) {
        if (next == receives.size()) {
            return 0;
        }
        const std::string& bytes = receives[next++];
        EXPECT_LE(bytes.size(), capacity);
        bytes.copy(buffer, bytes.size());
        return static_cast<long>(bytes.size());
    }
};

// What a reader that receives at most 500 bytes per call gets when each of
// `receives` had arrived whole before it read: the text of each piece.
std::vector<std::string> five_hundred_byte_reads(const std::vector<std::string>& receives) {
    std::vector<std::string> chunks;
    for (const std::string& bytes : receives) {
        for (std::size_t at = 0; at < bytes.size(); at += net::MAX_RECEIVE) {
            const std::string piece = bytes.substr(at, net::MAX_RECEIVE);
            chunks.push_back(piece.substr(0, net::text_length(piece.data(), piece.size())));
        }
    }
    return chunks;
}

std::string pattern(std::size_t size, char first) {
    std::string text(size, first);
    for (std::size_t i = 0; i < size; ++i) {
        text[i] = static_cast<char>(first + i % 23);
    }
    return text;
}

struct SplitCase {
    const char* name;
    std::vector<std::string> receives;
};

void PrintTo(const SplitCase& c, std::ostream* out) {
    *out << c.name;
}

class ChunkSplits : public testing::TestWithParam<SplitCase> {};

TEST_P(ChunkSplits, AreThe500ByteSplitsOfEachSystemReceive) {
    ScriptedReceives source{GetParam().receives};
    net::ChunkBuffer buffer;
    std::vector<std::string> chunks;
    std::string chunk;
    while (buffer.next_chunk(chunk, source) > 0) {
        chunks.push_back(chunk);
    }
    EXPECT_EQ(chunks, five_hundred_byte_reads(GetParam().receives));
}

INSTANTIATE_TEST_SUITE_P(
    Receives, ChunkSplits,
    testing::Values(SplitCase{"one short", {"A=1\nOk"}},
                    SplitCase{"exact multiples", {pattern(500, 'a'), pattern(1000, 'b')}},
                    SplitCase{"ragged", {pattern(1, 'a'), pattern(499, 'b'), pattern(1234, 'c')}},
                    SplitCase{"a full system receive", {pattern(net::SYSTEM_RECEIVE, 'a')}},
                    SplitCase{"zero bytes end their chunk's text only",
                              {std::string("AB\0CD", 5) + pattern(600, 'x'),
                               std::string(1, '\0') + "z"}}));

// A sink that collects the reply as a redirect file would.
struct FileSink {
    std::string written;
    void write(std::string_view text) { written += text; }
    bool strips_marker() const { return true; }
    bool after_chunk() { return true; }
};

TEST(ChunkBuffer, BytesAfterTheClosingOkStartTheNextReply) {
    // One system receive holds the end of a reply and the start of the next:
    // the marker ends its 500-byte chunk, and the rest waits in the buffer.
    const std::string first = pattern(498, 'a') + "Ok";
    ScriptedReceives source{{first + "next;", "Ok"}};
    net::ChunkBuffer buffer;
    std::string chunk;
    const auto read = [&](std::string& text) { return buffer.next_chunk(text, source) > 0; };
    FileSink one;
    EXPECT_EQ(cmdclient::relay_reply(read, chunk, one), cmdclient::ReplyEnd::end_marker);
    EXPECT_EQ(one.written, first.substr(0, 498));
    EXPECT_TRUE(buffer.holds_chunk());
    FileSink two;
    EXPECT_EQ(cmdclient::relay_reply(read, chunk, two), cmdclient::ReplyEnd::end_marker);
    EXPECT_EQ(two.written, "next;");
}

} // namespace
