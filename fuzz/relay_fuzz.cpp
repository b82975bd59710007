// The reply relay, fed arbitrary chunk sequences in place of a socket. The
// bytes reaching the console or the file must be exactly the chunks' texts (up
// to each chunk's first zero byte), less the final "Ok" for a file, and the relay
// must stop at exactly the first chunk that ends in "Ok" or is "Syntax error".
//
// Input: one byte choosing console or file, then chunks, each a two-byte length
// (taken modulo 501) followed by that many bytes.
#include "client/reply_relay.h"
#include "net/socket.h"

#include <cstdint>
#include <cstdlib>
#include <sstream>
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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const bool to_console = (data[0] & 1) != 0;
    const std::vector<std::string> chunks = chunks_from(data + 1, size - 1);

    // What the rules say should happen, worked out chunk by chunk.
    std::string expected_target;
    std::string expected_console;
    std::size_t expected_reads = chunks.size() + 1; // the last read fails
    for (std::size_t i = 0; i < chunks.size(); ++i) {
        const std::string text = before_zero(chunks[i]);
        const bool ok_end = text.size() >= 2 && text.compare(text.size() - 2, 2, "Ok") == 0;
        if (ok_end) {
            expected_target += to_console ? text : text.substr(0, text.size() - 2);
            expected_console += to_console ? "> " : "Ok> ";
        } else {
            expected_target += text;
        }
        if (!ok_end && text == "Syntax error") {
            expected_console += "\nOk> ";
        }
        if (ok_end || text == "Syntax error") {
            expected_reads = i + 1;
            break;
        }
    }
    const bool expect_end = expected_reads <= chunks.size();
    if (!expect_end) {
        expected_console += "Exception!\n";
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
    std::ostringstream console;
    std::ostringstream file;
    std::string reply;
    const auto end =
        cmdclient::relay_reply(read_chunk, reply, to_console ? console : file, console, false);

    const std::string wanted_console = (to_console ? expected_target : "") + expected_console;
    const std::string wanted_file = to_console ? "" : expected_target;
    if (reads != expected_reads || (end == cmdclient::ReplyEnd::end_marker) != expect_end ||
        console.str() != wanted_console || file.str() != wanted_file ||
        reply != (expect_end ? "Ok" : "")) {
        std::abort();
    }
    return 0;
}
