#include "client/console.h"

#include "client/console_platform.h"
#include "client/reply_relay.h"
#include "client/texts.h"

#include <cerrno>

namespace cmdclient {

namespace {
// Longer partial lines are not redrawn by the editor; it then draws its prompt
// where the cursor is, which only matters if the line is edited across rows.
constexpr std::size_t longest_redrawn_tail = 160;
} // namespace

namespace {
// Large enough that a reply reaches the descriptor in few writes, small enough
// to keep the client's memory flat and low.
constexpr std::size_t console_buffer_size = std::size_t{64} << 10;
} // namespace

Console::Console(int out_fd, std::ostream& err, ConsoleMode mode, StopPolicy& policy)
    : own_buffer_(new DescriptorBuffer(console_buffer_size, policy)), out_(own_buffer_.get()),
      err_(err), mode_(mode) {
    own_buffer_->attach(out_fd);
}

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

void Console::show_failure(std::string_view text) {
    if (mode_.quiet) {
        flush();
        err_ << text << std::flush;
    } else {
        show(text);
    }
}

void Console::prompt() {
    if (mode_.quiet) {
        return;
    }
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

int Console::output_error() const noexcept {
    if (own_buffer_ != nullptr && own_buffer_->error() != 0) {
        return own_buffer_->error();
    }
    return out_.good() ? 0 : EIO;
}

void Console::fail_output(int error) noexcept {
    if (own_buffer_ != nullptr) {
        own_buffer_->fail(error);
    } else {
        out_.setstate(std::ios::badbit);
    }
}

bool Console::report_output_failure() {
    const int error = output_error();
    if (error != 0 && !output_failure_reported_) {
        output_failure_reported_ = true;
        report(std::string(texts::cannot_write_output) + ": " + platform::error_text(error));
    }
    return error != 0;
}

void Console::write_out_before_ending(std::chrono::milliseconds limit) {
    if (own_buffer_ != nullptr) {
        own_buffer_->write_out_before_ending(limit);
    } else {
        out_.flush();
    }
}

void Console::report(std::string_view message) {
    flush();
    err_ << texts::error_prefix << message << '\n' << std::flush;
}

void Console::finish() {
    if (mode_.quiet) {
        flush();
        return;
    }
    if (take_pending_prompt()) {
        put(out_, texts::prompt);
    }
    put(out_, texts::final_newline);
    flush();
}

} // namespace cmdclient
