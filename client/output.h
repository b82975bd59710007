// Where the client's text goes (standard output, standard error, a reply file,
// the log): a buffer written out when full or flushed, a name for messages and
// the first error, reported once. A stop signal cuts a wait short with the
// bytes still held, for the reply's owner to decide; a real write error fails
// it for good, and what it holds is dropped.
#pragma once

#include "client/platform/files.h"
#include "net/wait.h"

#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

namespace cmdclient {

class Output {
  public:
    // `name` says what it is in messages ("standard output").
    Output(std::string name, std::size_t capacity, int fd = -1);
    ~Output();

    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;

    // Opens `path` afresh, named `name`: false when it cannot be (nothing to
    // report when a stop signal cut it short); what is written is then dropped.
    bool open(const std::string& path, std::string name);
    // Opens the log `path` for appending, without waiting: false when it cannot
    // be. `mid_line`: the file ends without a newline.
    bool open_log(const std::string& path, std::string name, bool& mid_line);
    // Writes out and closes what open() opened; its errors are kept.
    void close();

    // Writes `text`, then `more` (a log line's stamp, then the line) with one
    // check of the room left.
    void write(std::string_view text, std::string_view more = {}) {
        if (text.size() + more.size() == 0) {
            return;
        }
        if (char* at = room_for(text.size() + more.size())) {
            if (!text.empty()) {
                std::memcpy(at, text.data(), text.size());
            }
            if (!more.empty()) {
                std::memcpy(at + text.size(), more.data(), more.size());
            }
        }
        ends_line_ = (more.empty() ? text : more).back() == '\n';
        if (tracks_tail_) {
            track_tail(text);
            track_tail(more);
        }
    }

    // Writes out everything held: false when it failed or a stop signal cut
    // the wait short (then it is held on).
    bool flush() {
        write_held({});
        return error_ == 0 && held_size_ == 0;
    }
    // Writes out what it can by `deadline`, as the run ends by a signal.
    void flush_before_ending(net::Clock::time_point deadline) { write_held(deadline); }

    // Fails when the reader of a pipe or socket has gone, though nothing is
    // pending: false once it has failed.
    bool check_reader();

    // A reader that leaves ends the run by SIGPIPE, as it ends other filters
    // (standard output alone); elsewhere it is a failed write like any other.
    void end_run_on_broken_pipe() noexcept { broken_pipe_ends_run_ = true; }

    // Fails it as a write from elsewhere did (the first error stays).
    void fail(int error) noexcept;
    // The system's error number of its first failure, or 0.
    int error() const noexcept { return error_; }
    // "cannot write NAME: REASON" (or "open"), once; empty otherwise.
    std::string take_failure();

    // Keeps the text since the last newline, when short and plain enough for
    // the line editor to redraw it before its prompt; `known` false otherwise.
    void track_line_tail() noexcept { tracks_tail_ = true; }
    const std::string& line_tail(bool& known) const noexcept {
        known = tail_known_;
        return tail_;
    }
    // True when what was written last ends a line (or nothing was written).
    bool ends_line() const noexcept { return ends_line_; }
    // The cursor is known to be at the start of a line.
    void at_line_start() noexcept {
        tail_.clear();
        tail_known_ = true;
    }

  private:
    void release();
    bool take_descriptor(std::string name, int fd);
    void write_held(net::Deadline deadline);
    // Where `size` more bytes go (written out first when full); null when
    // they are dropped.
    char* room_for(std::size_t size) {
        if (held_size_ + size <= held_.size() && held_size_ + size <= capacity_ && fd_ >= 0 &&
            error_ == 0) {
            const std::size_t at = std::exchange(held_size_, held_size_ + size);
            return &held_[at];
        }
        return make_room_for(size);
    }
    char* make_room_for(std::size_t size);
    void track_tail(std::string_view text);

    std::string name_;
    std::size_t capacity_;
    // The first held_size_ bytes are held; it only grows, so that text is
    // copied in without the string's bookkeeping.
    std::string held_;
    std::size_t held_size_ = 0;
    int fd_;
    bool owns_fd_ = false;
    platform::OutputKind kind_;
    int error_ = 0;
    bool open_failed_ = false;
    bool reported_ = false;
    bool broken_pipe_ends_run_ = false;
    bool tracks_tail_ = false;
    bool ends_line_ = true;
    bool tail_known_ = true;
    std::string tail_;
};

} // namespace cmdclient
