// Where the client's text goes: standard output, standard error or a reply
// file, each one Output with its buffer, its name for messages and its first
// error, reported once. Replies pass through it chunk by chunk, so writing is
// a copy into the buffer; the descriptor is written when the buffer is full
// or flushed. Every wait for the descriptor goes through the one wait: a stop
// signal cuts it short and the bytes stay held, so that the code that owns
// the reply decides what the signal means. Only a real write error fails it,
// and it stays failed: what it holds is then dropped.
#pragma once

#include "client/platform/files.h"
#include "net/wait.h"

#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

namespace cmdclient {

class Output {
  public:
    // `name` says what it is in messages ("standard output").
    Output(std::string name, std::size_t capacity, int fd = -1);
    ~Output();

    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;

    // Opens the file `path` afresh (its contents replaced), named `name`:
    // false when it cannot be; what is written until close() is then dropped.
    // An open cut short by a stop signal fails with no error to report.
    bool open(const std::string& path, std::string name);
    // Opens the session log `path` for appending, named `name`, without
    // waiting (see platform::open_log_file): false when it cannot be.
    // `mid_line`: what the file holds ends without a newline.
    bool open_log(const std::string& path, std::string name, bool& mid_line);
    // Writes out and closes what open() opened; its errors are kept.
    void close();

    void write(std::string_view text) {
        if (text.empty()) {
            return;
        }
        if (char* at = room_for(text.size())) {
            std::memcpy(at, text.data(), text.size());
        }
        ends_line_ = text.back() == '\n';
        if (tracks_tail_) {
            track_tail(text);
        }
    }
    // Writes `first` and `second` as one text (a log line's stamp and the
    // line): one check of the room left, one copy each.
    void write(std::string_view first, std::string_view second) {
        if (first.empty() || second.empty()) {
            write(first.empty() ? second : first);
            return;
        }
        if (char* at = room_for(first.size() + second.size())) {
            std::memcpy(at, first.data(), first.size());
            std::memcpy(at + first.size(), second.data(), second.size());
        }
        ends_line_ = second.back() == '\n';
        if (tracks_tail_) {
            track_tail(first);
            track_tail(second);
        }
    }

    // Writes out everything held, waiting as long as it takes: true when done;
    // false when it failed or a stop signal cut the wait short (held on).
    bool flush() {
        write_held({});
        return error_ == 0 && held_size_ == 0;
    }
    // Writes out what it can by `deadline`, as the run ends by a signal.
    void flush_before_ending(net::Clock::time_point deadline) { write_held(deadline); }

    // A pipe or socket whose reader has gone fails as a write to it would,
    // though nothing is pending: false once it has failed.
    bool check_reader();

    // A reader that leaves ends the run by SIGPIPE, as it ends other filters
    // (standard output alone); elsewhere it is a failed write like any other.
    void end_run_on_broken_pipe() noexcept { broken_pipe_ends_run_ = true; }

    // Fails it as a write from elsewhere did (the first error stays).
    void fail(int error) noexcept;
    // The system's error number of its first failure, or 0.
    int error() const noexcept { return error_; }
    // "cannot write NAME: REASON" (or "open") once it has failed, and only
    // once; empty otherwise.
    std::string take_failure();

    // Keeps the text written since the last newline, when short and plain
    // enough for the line editor to redraw it in front of its prompt.
    void track_line_tail() noexcept { tracks_tail_ = true; }
    // That text; `known` false when the cursor's column cannot be told.
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
    bool take_descriptor(int fd, int error);
    void write_held(net::Deadline deadline);
    // Where `size` more bytes go in the buffer (written out first when full);
    // null when they are dropped (not open, or failed).
    char* room_for(std::size_t size);
    void track_tail(std::string_view text);

    std::string name_;
    std::size_t capacity_;
    // What is held is the first held_size_ bytes of held_, which only grows,
    // so that text is copied in without the string's own bookkeeping.
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
