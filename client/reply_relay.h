// Relaying one reply: the server's text arrives in chunks of at most 500 bytes
// and goes, chunk by chunk, to the console or a redirect file until the end of
// the reply. The rules are kept apart from all input and output, so they can be
// checked with chunks made in memory.
#pragma once

#include <string>
#include <string_view>

namespace cmdclient {

inline constexpr std::string_view syntax_error_reply = "Syntax error";

enum class ReplyEnd {
    end_marker,   // the closing "Ok" arrived
    syntax_error, // the reply was exactly "Syntax error"
    cut_short,    // the reader or the sink ended it early, for reasons of its own
};

// Relays one reply. `read_chunk(std::string&)` fills the text with the next
// chunk: true, or false when the reply cannot go on (a lost connection, say).
// `sink` takes the reply's text:
//   sink.write(std::string_view)  the reply's bytes, in order, never accumulated;
//   sink.write_held(std::string_view)  the "O" held back (below), written after
//                                 all: one of those bytes, in its place;
//   sink.strips_marker()          true: the closing "Ok" is left out of them;
//   sink.after_chunk()            after each chunk that did not end it: false
//                                 ends the relay there.
//
// Chunks are judged at receive boundaries, never joined: a chunk ending in "Ok"
// ends the reply (the server's closing "Ok" doubles as the start of the next
// prompt "Ok> "), and so does a chunk that is exactly "Syntax error". A network
// may cut the closing "Ok" between two receives, so a chunk that is exactly "k"
// also ends it when the text so far ends in "O". When the marker is stripped, a
// trailing "O" is therefore held back until the next chunk decides; it is written
// after all when that chunk does not complete the marker, or the reply is cut short.
template <typename ReadChunk, typename Sink>
ReplyEnd relay_reply(ReadChunk&& read_chunk, std::string& chunk, Sink& sink) {
    const bool strip = sink.strips_marker();
    bool ends_in_o = false; // the text received so far ends in 'O'
    const auto cut_short = [&] {
        if (ends_in_o && strip) {
            sink.write_held("O");
        }
        return ReplyEnd::cut_short;
    };
    for (;;) {
        if (!read_chunk(chunk)) {
            return cut_short();
        }
        const std::size_t size = chunk.size();
        if (size == 0) {
            // An empty text changes nothing of what came before.
            if (!sink.after_chunk()) {
                return cut_short();
            }
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
                sink.write_held("O");
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
        if (!sink.after_chunk()) {
            return cut_short();
        }
    }
}

} // namespace cmdclient
