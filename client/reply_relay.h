// Relaying one reply, chunk by chunk (500 bytes at most), to the console or a reply
// file; apart from all input and output, so that tests feed it chunks made in memory.
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

// Relays one reply: `read_chunk(std::string&)` fills in the next chunk (false:
// the reply cannot go on); `sink` takes its bytes in order by write() and, when
// strips_marker(), without the closing "Ok", a trailing "O" held back for
// write_held() until the next chunk shows it is not the marker's; after each
// chunk that did not end the reply, after_chunk() false ends the relay there.
// Chunks are judged at receive boundaries, never joined: one ending in "Ok"
// ends the reply (the closing "Ok" doubles as the start of the prompt "Ok> "),
// as does one that is exactly "Syntax error", or "k" after text ending in "O"
// (a network may cut the "Ok" between two receives).
template <typename ReadChunk, typename Sink>
ReplyEnd relay_reply(ReadChunk&& read_chunk, std::string& chunk, Sink& sink) {
    const bool strip = sink.strips_marker();
    bool ends_in_o = false; // the text received so far ends in 'O'
    while (read_chunk(chunk)) {
        const std::string_view text(chunk);
        if (!text.empty()) { // an empty text changes nothing of what came before
            if (ends_in_o && text == "k") {
                if (!strip) {
                    sink.write(text);
                }
                return ReplyEnd::end_marker;
            }
            if (ends_in_o && strip) {
                sink.write_held("O");
            }
            if (text.size() >= 2 && text.substr(text.size() - 2) == "Ok") {
                sink.write(strip ? text.substr(0, text.size() - 2) : text);
                return ReplyEnd::end_marker;
            }
            if (text == syntax_error_reply) {
                sink.write(text);
                return ReplyEnd::syntax_error;
            }
            ends_in_o = text.back() == 'O';
            sink.write(strip && ends_in_o ? text.substr(0, text.size() - 1) : text);
        }
        if (!sink.after_chunk()) {
            break;
        }
    }
    if (ends_in_o && strip) {
        sink.write_held("O");
    }
    return ReplyEnd::cut_short;
}

} // namespace cmdclient
