// The reply relay, fed arbitrary chunk sequences in place of a socket. The
// bytes reaching the target must be exactly the chunks' texts (up to each
// chunk's first zero byte), less the closing "Ok" where the target strips it, and
// the relay must stop at exactly the first chunk that ends the reply.
//
// Input: one byte choosing whether the marker is stripped, then chunks, each a two-byte length
// (taken modulo 501) followed by that many bytes.
#include "client/reply_relay.h"
#include "net/socket.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <string>
#include <vector>

namespace {

std::vector<std::string> chunks_from(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> chunks;
    std::size_t at = 0;
    while (at + 2 <= size) {
        std::size_t length = ((data[at] << 8) | data[at + 1]) % (net::MAX_RECEIVE + 1);
        at += 2;
        length = length < size - at ? length : size - at;
        chunks.emplace_back(reinterpret_cast<const char*>(data + at), length);
        at += length;
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
    bool strips_marker() const { return strip; }
    void after_chunk() {}
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const bool strip = (data[0] & 1) != 0;
    const std::vector<std::string> chunks = chunks_from(data + 1, size - 1);

    // The rules stated on the whole text: the reply ends at the first receive
    // that ends in "Ok", is exactly "Syntax error", or is exactly "k" when the
    // text so far ends in "O". The target gets the text up to there, less the
    // closing "Ok" when it strips the marker.
    std::string joined;
    std::size_t expected_reads = chunks.size() + 1; // the last read fails
    auto expected_end = cmdclient::ReplyEnd::connection_lost;
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

    std::size_t reads = 0;
    auto read_chunk = [&](std::string& text) {
        if (reads == chunks.size()) {
            ++reads;
            throw net::SocketException("Could not read from socket.");
        }
        const std::string& raw = chunks[reads++];
        text.assign(raw, 0, net::text_length(raw.data(), raw.size()));
    };
    StringSink sink{strip, {}};
    std::string chunk;
    const auto end = cmdclient::relay_reply(read_chunk, chunk, sink);
    if (reads != expected_reads || end != expected_end || sink.written != joined) {
        std::abort();
    }
    return 0;
}
