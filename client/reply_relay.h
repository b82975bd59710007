// Relaying one reply: the server's text arrives in chunks of at most 500 bytes
// and goes, chunk by chunk, to the console or a redirect file until a chunk marks
// the end of the reply. Judging a chunk is kept apart from all input and output,
// so the rules can be checked with chunks made in memory.
#pragma once

#include "net/socket_exception.h"

#include <ostream>
#include <string>
#include <string_view>

namespace cmdclient {

// The target text that means "show the reply on the console".
inline constexpr std::string_view console_target = "stdout";

// What one chunk of a reply asks for.
struct ChunkAction {
    std::string_view to_target;  // bytes for the reply's target (console or file)
    std::string_view to_console; // then this text for the console, if any
    bool ends_reply = false;
};

// Judges one chunk on its own; chunks are never joined, so an end marker split
// across two receives is not seen. A chunk ending in "Ok" ends the reply: the
// server's closing "Ok" doubles as the start of the next prompt "Ok> ", so on the
// console only "> " follows it, while a file gets the chunk without the "Ok".
// A chunk that is exactly "Syntax error" also ends the reply.
ChunkAction judge_chunk(std::string_view chunk, bool target_is_console) noexcept;

// Hands `text` to the stream's buffer directly: the relay runs once per chunk,
// and a formatted write's per-call checks would cost more than the copy. A short
// write marks the stream failed, as a formatted write would.
inline void put(std::ostream& out, std::string_view text) {
    const auto size = static_cast<std::streamsize>(text.size());
    if (out.rdbuf()->sputn(text.data(), size) != size) {
        out.setstate(std::ios::badbit);
    }
}

enum class ReplyEnd {
    end_marker,      // the reply ended normally
    connection_lost, // a receive failed; "Exception!" has been printed
};

// Relays one reply. `read_chunk(std::string&)` fills the text with the next chunk
// or throws net::SocketException. Each chunk is handed to `target` as it arrives
// and never accumulated; with `flush_each_chunk` the console is flushed after every
// chunk it shows. On return `reply` is "Ok" after an end marker, empty after a loss.
template <typename ReadChunk>
ReplyEnd relay_reply(ReadChunk&& read_chunk, std::string& reply, std::ostream& target,
                     std::ostream& console, bool flush_each_chunk) {
    const bool target_is_console = &target == &console;
    flush_each_chunk = flush_each_chunk && target_is_console;
    for (;;) {
        try {
            read_chunk(reply);
        } catch (const net::SocketException&) {
            reply.clear();
            console << "Exception!\n";
            return ReplyEnd::connection_lost;
        }
        const ChunkAction action = judge_chunk(reply, target_is_console);
        put(target, action.to_target);
        if (action.ends_reply) {
            put(console, action.to_console);
            reply = "Ok";
            return ReplyEnd::end_marker;
        }
        if (flush_each_chunk) {
            console.flush();
        }
    }
}

} // namespace cmdclient
