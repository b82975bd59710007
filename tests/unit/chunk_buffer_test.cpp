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

std::string pattern(std::size_t size, char first) {
    std::string text(size, first);
    for (std::size_t i = 0; i < size; ++i) {
        text[i] = static_cast<char>(first + i % 23);
    }
    return text;
}

// `count` chunk sizes of `size` bytes, then one of `last`.
std::vector<std::size_t> repeated_then(std::size_t count, std::size_t size, std::size_t last) {
    std::vector<std::size_t> sizes(count, size);
    sizes.push_back(last);
    return sizes;
}

// One system receive and the sizes of the chunks it must be handed out in.
struct Receive {
    std::string bytes;
    std::vector<std::size_t> chunk_sizes;
};

struct SplitCase {
    const char* name;
    std::vector<Receive> receives;
};

void PrintTo(const SplitCase& c, std::ostream* out) {
    *out << c.name;
}

class ChunkSplits : public testing::TestWithParam<SplitCase> {};

TEST_P(ChunkSplits, AreThe500ByteSplitsOfEachSystemReceive) {
    ScriptedReceives source;
    std::vector<std::string> expected;
    for (const Receive& receive : GetParam().receives) {
        source.receives.push_back(receive.bytes);
        std::size_t at = 0;
        for (const std::size_t size : receive.chunk_sizes) {
            expected.push_back(receive.bytes.substr(at, size));
            at += size;
        }
        ASSERT_EQ(at, receive.bytes.size()) << "the sizes must add up to the receive";
    }
    net::ChunkBuffer buffer;
    std::vector<std::string> chunks;
    std::string chunk;
    while (buffer.next_chunk(chunk, source) > 0) {
        chunks.push_back(chunk);
    }
    EXPECT_EQ(chunks, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Receives, ChunkSplits,
    testing::Values(
        SplitCase{"one short", {{"A=1\nOk", {6}}}},
        SplitCase{"exact multiples", {{pattern(500, 'a'), {500}}, {pattern(1000, 'b'), {500, 500}}}},
        SplitCase{"ragged",
                  {{pattern(1, 'a'), {1}},
                   {pattern(499, 'b'), {499}},
                   {pattern(1234, 'c'), {500, 500, 234}}}},
        SplitCase{"64 KiB in one receive", {{pattern(65536, 'a'), repeated_then(131, 500, 36)}}}));

TEST(ChunkBuffer, AZeroByteEndsTheTextOfItsChunkOnly) {
    const std::string tail = pattern(600, 'x');
    ScriptedReceives source{{std::string("AB\0CD", 5) + tail, std::string(1, '\0') + "z"}};
    net::ChunkBuffer buffer;
    std::vector<std::pair<std::string, long>> chunks; // text, bytes
    std::string chunk;
    for (long size; (size = buffer.next_chunk(chunk, source)) > 0;) {
        chunks.emplace_back(chunk, size);
    }
    const std::vector<std::pair<std::string, long>> expected{
        {"AB", 500}, {tail.substr(495), 105}, {"", 2}};
    EXPECT_EQ(chunks, expected);
}

// A sink that collects the reply as a redirect file would.
struct FileSink {
    std::string written;
    void write(std::string_view text) { written += text; }
    void write_held(std::string_view text) { write(text); }
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
