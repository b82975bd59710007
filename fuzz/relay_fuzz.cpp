// The reply relay over the socket layer's chunk buffer, fed system receives
// of arbitrary sizes in place of a socket. The chunks must be the 500-byte
// splits of each system receive; the bytes reaching the target must be
// exactly the chunks' texts (up to each chunk's first zero byte), less the
// closing "Ok" where the target strips it; the relay must stop at exactly the
// first chunk that ends the reply, and what follows must be left for the next.
//
// Input: one byte choosing whether the marker is stripped, then system
// receives, each a two-byte length (taken modulo 2048) and that many bytes.
#include "client/reply_relay.h"
#include "net/chunk_buffer.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <string>
#include <vector>

namespace {

std::vector<std::string> receives_from(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> receives;
    std::size_t at = 0;
    while (at + 2 <= size) {
        std::size_t length = ((data[at] << 8) | data[at + 1]) % 2048;
        at += 2;
        length = length < size - at ? length : size - at;
        if (length > 0) { // a system receive of 0 bytes is the end of the stream
            receives.emplace_back(reinterpret_cast<const char*>(data + at), length);
        }
        at += length;
    }
    return receives;
}

// The chunks a reader of at most 500 bytes per receive gets from them.
std::vector<std::string> split(const std::vector<std::string>& receives) {
    std::vector<std::string> chunks;
    for (const std::string& bytes : receives) {
        for (std::size_t at = 0; at < bytes.size(); at += net::MAX_RECEIVE) {
            chunks.push_back(bytes.substr(at, net::MAX_RECEIVE));
        }
    }
    return chunks;
}

std::string before_zero(const std::string& raw) {
    std::string text;
    for (char c : raw) {
        if (c == '\0') {
            break;
        }
        text += c;
    }
    return text;
}


struct StringSink {
    bool strip;
    std::string written;
    void write(std::string_view text) { written += text; }
    void write_held(std::string_view text) { write(text); }
    bool strips_marker() const { return strip; }
    bool after_chunk() { return true; }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const bool strip = (data[0] & 1) != 0;
    const std::vector<std::string> receives = receives_from(data + 1, size - 1);
    const std::vector<std::string> chunks = split(receives);

    // The rules stated on the whole text: the reply ends at the first receive
    // that ends in "Ok", is exactly "Syntax error", or is exactly "k" when the
    // text so far ends in "O". The target gets the text up to there, less the
    // closing "Ok" when it strips the marker.
    std::string joined;
    std::size_t expected_reads = chunks.size() + 1; // the last read fails
    auto expected_end = cmdclient::ReplyEnd::cut_short;
    for (std::size_t i = 0; i < chunks.size(); ++i) {
        const std::string text = before_zero(chunks[i]);
        const bool split_ok = text == "k" && !joined.empty() && joined.back() == 'O';
        joined += text;
        const bool ok_end = text.size() >= 2 && text.compare(text.size() - 2, 2, "Ok") == 0;
        if (ok_end || split_ok || text == "Syntax error") {
            expected_end = ok_end || split_ok ? cmdclient::ReplyEnd::end_marker
                                              : cmdclient::ReplyEnd::syntax_error;
            expected_reads = i + 1;
            break;
        }
    }
    if (strip && expected_end == cmdclient::ReplyEnd::end_marker) {
        joined.resize(joined.size() - 2);
    }

    std::size_t next_receive = 0;
    const auto system_receive = [&](char* buffer, std::size_t capacity) -> long {
        if (next_receive == receives.size()) {
            return 0;
        }
        const std::string& bytes = receives[next_receive++];
        if (bytes.size() > capacity) {
            std::abort();
        }
        bytes.copy(buffer, bytes.size());
        return static_cast<long>(bytes.size());
    };
    net::ChunkBuffer buffer;
    std::size_t reads = 0;
    auto read_chunk = [&](std::string& text) {
        ++reads;
        return buffer.next_chunk(text, system_receive) > 0;
    };
    StringSink sink{strip, {}};
    std::string chunk;
    const auto end = cmdclient::relay_reply(read_chunk, chunk, sink);
    if (reads != expected_reads || end != expected_end || sink.written != joined) {
        std::abort();
    }
    // Every chunk after the end is left, unchanged, for the next reply.
    for (std::size_t i = expected_reads; i < chunks.size(); ++i) {
        if (buffer.next_chunk(chunk, system_receive) <= 0 || chunk != before_zero(chunks[i])) {
            std::abort();
        }
    }
    return 0;
}
