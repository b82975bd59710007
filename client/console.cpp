#include "client/console.h"

#include "client/texts.h"

namespace cmdclient {

namespace {
// Large enough that a reply reaches the descriptor in few writes, small enough
// to keep the client's memory flat and low.
constexpr std::size_t console_buffer_size = std::size_t{64} << 10;
constexpr std::size_t error_buffer_size = 1024;
} // namespace

Console::Console(int out_fd, int err_fd, ConsoleMode mode)
    : out_("standard output", console_buffer_size, out_fd),
      err_("standard error", error_buffer_size, err_fd), mode_(mode) {
    if (mode_.editor_prompt) {
        out_.track_line_tail();
    }
}

void Console::show_failure(std::string_view text) {
    if (mode_.quiet) {
        flush();
        err_.write(text);
        err_.flush();
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
        show(texts::prompt);
    }
}

bool Console::take_pending_prompt() noexcept {
    const bool pending = prompt_pending_;
    prompt_pending_ = false;
    return pending;
}

void Console::report(std::string_view message) {
    flush();
    err_.write(texts::error_prefix);
    err_.write(message);
    err_.write("\n");
    err_.flush();
}

bool Console::report_failure(Output& output) {
    const std::string failure = output.take_failure();
    if (!failure.empty()) {
        report(failure);
    }
    return output.error() != 0;
}

void Console::flush_before_ending(net::Clock::time_point deadline) {
    out_.flush_before_ending(deadline);
    err_.flush_before_ending(deadline);
}

void Console::finish() {
    if (!mode_.quiet) {
        if (take_pending_prompt()) {
            show(texts::prompt);
        }
        show(texts::final_newline);
    }
    flush();
}

} // namespace cmdclient
