// The session log (-L): the session as a terminal shows it without -q, banner,
// prompts with their lines, replies and the client's own lines, appended to a
// file. With -t each line starts with the local time: a prompt's line gets the
// time its line was read, any other the time of its first byte, so a line is
// held until it ends; only one longer than the hold goes out in pieces.
#pragma once

#include "client/output.h"

#include <chrono>
#include <string>
#include <string_view>

namespace cmdclient {

class SessionLog {
  public:
    SessionLog();

    // Opens `path` for appending: false when it cannot be (output() says why).
    // A file that ends mid-line (a killed run's) gets a newline.
    bool open(const std::string& path, bool timestamps);
    // Open and not failed: the console's text is to be written here.
    bool active() const noexcept { return active_; }
    Output& output() noexcept { return out_; }

    // Text the console shows (or would show, were it not quiet).
    void write(std::string_view text) {
        arrival_known_ = false;
        write_with_last(text);
    }
    // Text that arrived with the text written just before it (chunks of one
    // receive): its lines share that time, so the clock is read once a receive.
    void write_with_last(std::string_view text) {
        take_held_prompt();
        timestamps_ ? write_stamped(text) : write_plain(text);
    }
    // A prompt is shown: held until its line is read, so that a line dropped
    // by Ctrl-C leaves no second prompt and it gets that moment's stamp.
    void prompt() noexcept { prompt_held_ = active_; }
    // The line read at the prompt, written after it with a newline.
    void line_read(std::string_view line);
    // Ends a line left open (a reply cut short), as a terminal shows the
    // failure that follows on a line of its own.
    void end_line() {
        if (active_ && !at_line_start_) {
            write("\n");
        }
    }
    // One of the client's own lines ("cmdclient: ..."), on a line of its own.
    void report(std::string_view line);

    // Writes out the buffer (not a line held for its stamp): false when the
    // log failed (it is inactive from then on).
    bool flush();
    // Writes out and closes the log: false when that failed (output() says why).
    bool close();
    // Writes out everything, held line and prompt too, by `deadline`, as the
    // run ends by a signal.
    void flush_before_ending(net::Clock::time_point deadline);

  private:
    void take_held_prompt();
    void write_plain(std::string_view text);
    void write_stamped(std::string_view text);
    // Writes the held line with its stamp; it goes on unheld.
    void release_line();
    // The stamp's text for `when`, formatted once for lines that share it.
    std::string_view stamp_text(std::chrono::system_clock::time_point when) {
        return stamp_made_ && when == stamp_time_ ? std::string_view(stamp_text_)
                                                  : make_stamp_text(when);
    }
    std::string_view make_stamp_text(std::chrono::system_clock::time_point when);

    Output out_;
    bool active_ = false;
    bool timestamps_ = false;
    bool prompt_held_ = false;
    bool at_line_start_ = true;
    // With -t: the current line's start, not written yet, and the time of its
    // first byte; `stamped_` once written in part.
    std::string line_;
    std::chrono::system_clock::time_point line_time_;
    bool stamped_ = false;
    // The time the text being written arrived, once read (see write_with_last).
    std::chrono::system_clock::time_point arrival_;
    bool arrival_known_ = false;
    // The stamp up to the seconds, for its second, and the whole stamp for the
    // time it was last made for.
    std::time_t stamp_second_ = -1;
    std::string stamp_seconds_;
    std::chrono::system_clock::time_point stamp_time_;
    bool stamp_made_ = false;
    std::string stamp_text_;
};

} // namespace cmdclient
