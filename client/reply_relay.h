// Relaying one reply: the server's text arrives in chunks of at most 500 bytes
// and goes, chunk by chunk, to the console or a redirect file until the end of
// the reply. The rules are kept apart from all input and output, so they can be
// checked with chunks made in memory.
#pragma once

#include "net/socket_exception.h"

#include <ostream>
#include <string>
#include <string_view>

namespace cmdclient {

inline constexpr std::string_view syntax_error_reply = "Syntax error";

enum class ReplyEnd {
    end_marker,      // the closing "Ok" arrived
    syntax_error,    // the reply was exactly "Syntax error"
    connection_lost, // a receive failed
};

// Hands `text` to the stream's buffer directly: the relay runs once per chunk,
// and a formatted write's per-call checks would cost more than the copy. A short
// write marks the stream failed, as a formatted write would.
inline void put(std::ostream& out, std::string_view text) {
    const auto size = static_cast<std::streamsize>(text.size());
    if (out.rdbuf()->sputn(text.data(), size) != size) {
        out.setstate(std::ios::badbit);
    }
}

// Relays one reply. `read_chunk(std::string&)` fills the text with the next chunk
// or throws net::SocketException (a lost connection); any other exception
// leaves the relay after the text held back is written. `sink` takes the reply's text:
//   sink.write(std::string_view)  the reply's bytes, in order, never accumulated;
//   sink.strips_marker()          true: the closing "Ok" is left out of them;
//   sink.after_chunk()            called after each chunk that did not end it.
//
// Chunks are judged at receive boundaries, never joined: a chunk ending in "Ok"
// ends the reply (the server's closing "Ok" doubles as the start of the next
// prompt "Ok> "), and so does a chunk that is exactly "Syntax error". A network
// may cut the closing "Ok" between two receives, so a chunk that is exactly "k"
// also ends it when the text so far ends in "O". When the marker is stripped, a
// trailing "O" is therefore held back until the next chunk decides; it is written
// after all when that chunk does not complete the marker, or the receive fails.
template <typename ReadChunk, typename Sink>
ReplyEnd relay_reply(ReadChunk&& read_chunk, std::string& chunk, Sink& sink) {
    const bool strip = sink.strips_marker();
    bool ends_in_o = false; // the text received so far ends in 'O'
    for (;;) {
        try {
            read_chunk(chunk);
        } catch (const net::SocketException&) {
            if (ends_in_o && strip) {
                sink.write("O");
            }
            return ReplyEnd::connection_lost;
        } catch (...) {
            // The reader gave up for reasons of its own: what arrived stays.
            if (ends_in_o && strip) {
                sink.write("O");
            }
            throw;
        }
        const std::size_t size = chunk.size();
        if (size == 0) {
            sink.after_chunk(); // an empty text changes nothing of what came before
            continue;
        }
        if (ends_in_o) {
            if (size == 1 && chunk[0] == 'k') {
                if (!strip) {
                    sink.write(chunk);
                }
                return ReplyEnd::end_marker;
            }
            if (strip) {
                sink.write("O");
            }
        }
        if (size >= 2 && chunk[size - 2] == 'O' && chunk[size - 1] == 'k') {
            sink.write(strip ? std::string_view(chunk).substr(0, size - 2) : chunk);
            return ReplyEnd::end_marker;
        }
        if (std::string_view(chunk) == syntax_error_reply) {
            sink.write(chunk);
            return ReplyEnd::syntax_error;
        }
        ends_in_o = chunk[size - 1] == 'O';
        sink.write(strip && ends_in_o ? std::string_view(chunk).substr(0, size - 1) : chunk);
        sink.after_chunk();
    }
}

} // namespace cmdclient
