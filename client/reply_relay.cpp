#include "client/reply_relay.h"

namespace cmdclient {

namespace {
constexpr std::string_view end_marker = "Ok";
constexpr std::string_view syntax_error = "Syntax error";
} // namespace

ChunkAction judge_chunk(std::string_view chunk, bool target_is_console) noexcept {
    const std::size_t size = chunk.size();
    if (size >= 2 && chunk[size - 2] == 'O' && chunk[size - 1] == 'k') {
        if (target_is_console) {
            return {chunk, "> ", true};
        }
        return {chunk.substr(0, size - end_marker.size()), "Ok> ", true};
    }
    if (chunk == syntax_error) {
        return {chunk, "\nOk> ", true};
    }
    return {chunk, {}, false};
}

} // namespace cmdclient
