#include "client/session_log.h"

#include "client/texts.h"

#include <cstring>
#include <ctime>

namespace cmdclient {

namespace {
// A log file is written in large pieces, as a reply file is.
constexpr std::size_t log_buffer_size = std::size_t{64} << 10;
// Longer lines are written in pieces under their first stamp, so that a reply
// without newlines does not pile up in memory.
constexpr std::size_t longest_held_line = std::size_t{64} << 10;
} // namespace

SessionLog::SessionLog() : out_("log file", log_buffer_size) {}

bool SessionLog::open(const std::string& path, bool timestamps) {
    bool mid_line = false;
    active_ = out_.open_log(path, "log file '" + path + "'", mid_line);
    timestamps_ = timestamps;
    if (active_ && mid_line) {
        out_.write("\n"); // ends the line of the run that was killed
    }
    return active_;
}

void SessionLog::line_read(std::string_view line) {
    if (!active_) {
        return;
    }
    if (timestamps_ && !stamped_) {
        // The line holding the prompt is stamped now: when its command was read.
        line_time_ = std::chrono::system_clock::now();
        release_line();
    }
    take_held_prompt();
    write(line);
    write("\n");
}

void SessionLog::report(std::string_view line) {
    if (!active_) {
        return;
    }
    take_held_prompt();
    if (!at_line_start_) {
        write("\n");
    }
    write(texts::error_prefix);
    write(line);
    write("\n");
}

bool SessionLog::flush() {
    if (active_ && !out_.flush() && out_.error() != 0) {
        active_ = false;
    }
    return out_.error() == 0;
}

bool SessionLog::close() {
    if (active_) {
        active_ = false;
        out_.close();
    }
    return out_.error() == 0;
}

void SessionLog::flush_before_ending(net::Clock::time_point deadline) {
    if (!active_) {
        return;
    }
    take_held_prompt();
    if (timestamps_ && !line_.empty()) {
        release_line();
    }
    out_.flush_before_ending(deadline);
}

void SessionLog::take_held_prompt() {
    if (prompt_held_) {
        prompt_held_ = false;
        write(texts::prompt);
    }
}

void SessionLog::write_plain(std::string_view text) {
    if (!text.empty()) {
        out_.write(text);
        at_line_start_ = text.back() == '\n';
    }
}

void SessionLog::write_stamped(std::string_view text) {
    while (!text.empty()) {
        if (at_line_start_) {
            if (!arrival_known_) {
                arrival_ = std::chrono::system_clock::now();
                arrival_known_ = true;
            }
            line_time_ = arrival_;
            at_line_start_ = false;
        }
        const auto* newline = static_cast<const char*>(std::memchr(text.data(), '\n', text.size()));
        const std::size_t size =
            newline == nullptr ? text.size() : static_cast<std::size_t>(newline - text.data()) + 1;
        const std::string_view piece = text.substr(0, size);
        text.remove_prefix(size);
        if (stamped_) {
            out_.write(piece);
        } else if (newline != nullptr && line_.empty()) {
            out_.write(stamp_text(line_time_), piece); // a whole line: no need to hold it
        } else {
            line_.append(piece);
            if (newline != nullptr || line_.size() > longest_held_line) {
                release_line();
            }
        }
        if (newline != nullptr) {
            stamped_ = false;
            at_line_start_ = true;
        }
    }
}

void SessionLog::release_line() {
    out_.write(stamped_ ? std::string_view() : stamp_text(line_time_), line_);
    stamped_ = true;
    line_.clear();
}

std::string_view SessionLog::make_stamp_text(std::chrono::system_clock::time_point when) {
    using namespace std::chrono;
    const std::time_t second = system_clock::to_time_t(when);
    if (second != stamp_second_) {
        std::tm local{};
        char text[32] = "[?]";
        if (platform::local_time(second, local)) {
            std::strftime(text, sizeof text, "[%Y-%m-%d %H:%M:%S", &local);
        }
        stamp_seconds_ = text;
        stamp_second_ = second;
    }
    // to_time_t may round: the milliseconds are counted from the second it gave.
    auto millis = duration_cast<milliseconds>(when - system_clock::from_time_t(second)).count();
    millis = millis < 0 ? 0 : millis > 999 ? 999 : millis;
    // Written by hand: formatting would be most of a stamp's cost.
    const int ms = static_cast<int>(millis);
    const char tail[] = {'.',
                         static_cast<char>('0' + ms / 100),
                         static_cast<char>('0' + ms / 10 % 10),
                         static_cast<char>('0' + ms % 10),
                         ']',
                         ' '};
    stamp_text_.assign(stamp_seconds_).append(tail, sizeof tail);
    stamp_time_ = when;
    stamp_made_ = true;
    return stamp_text_;
}

} // namespace cmdclient
