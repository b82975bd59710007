#include "client/console.h"

#include "client/reply_relay.h"
#include "client/texts.h"

namespace cmdclient {

namespace {
// Longer partial lines are not redrawn by the editor; it then draws its prompt
// where the cursor is, which only matters if the line is edited across rows.
constexpr std::size_t longest_redrawn_tail = 160;
} // namespace

Console::Console(int out_fd, std::ostream& err, ConsoleMode mode)
    : own_buffer_(new DescriptorBuffer(out_fd)), out_(own_buffer_.get()), err_(err), mode_(mode) {}

Console::Console(std::ostream& out, std::ostream& err, ConsoleMode mode)
    : out_(out.rdbuf()), err_(err), mode_(mode) {}

void Console::track_tail(std::string_view text) {
    const auto newline = text.rfind('\n');
    if (newline != std::string_view::npos) {
        tail_.clear();
        tail_known_ = true;
        text.remove_prefix(newline + 1);
    }
    if (!tail_known_) {
        return;
    }
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f || tail_.size() >= longest_redrawn_tail) {
            tail_.clear();
            tail_known_ = false;
            return;
        }
        tail_ += c;
    }
}

void Console::prompt() {
    if (mode_.editor_prompt) {
        prompt_pending_ = true;
    } else {
        put(out_, texts::prompt);
    }
}

bool Console::take_pending_prompt() noexcept {
    const bool pending = prompt_pending_;
    prompt_pending_ = false;
    return pending;
}

const std::string& Console::line_tail(bool& known) const noexcept {
    known = tail_known_;
    return tail_;
}

bool Console::flush() {
    out_.flush();
    return out_.good();
}

void Console::report(std::string_view message) {
    flush();
    err_ << texts::error_prefix << message << '\n' << std::flush;
}

void Console::finish() {
    if (take_pending_prompt()) {
        put(out_, texts::prompt);
    }
    put(out_, texts::final_newline);
    flush();
}

} // namespace cmdclient
