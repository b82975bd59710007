#include "client/output.h"

#include <algorithm>
#include <cerrno>

namespace cmdclient {

namespace {
// Longer partial lines are not redrawn by the editor; it then draws its prompt
// where the cursor is, which only matters if the line is edited across rows.
constexpr std::size_t longest_redrawn_tail = 160;
} // namespace

Output::Output(std::string name, std::size_t capacity, int fd)
    : name_(std::move(name)), capacity_(capacity), fd_(fd),
      kind_(fd >= 0 ? platform::output_kind(fd) : platform::OutputKind::never_waits) {}

Output::~Output() {
    if (owns_fd_) {
        platform::close_descriptor(fd_);
    }
}

bool Output::open(const std::string& path, std::string name) {
    close();
    if (owns_fd_) {
        release(); // still held after another stop signal: given up on
    }
    // A signal that is no stop signal cut the open short (a FIFO waits for
    // its reader): open again. A stop signal is for the reply's owner.
    int fd;
    do {
        fd = platform::open_reply_file(path.c_str());
    } while (fd < 0 && platform::interrupted(platform::last_error()) &&
             net::pending_stop_signal() == 0);
    return take_descriptor(std::move(name), fd);
}

bool Output::open_log(const std::string& path, std::string name, bool& mid_line) {
    close();
    return take_descriptor(std::move(name), platform::open_log_file(path.c_str(), mid_line));
}

// Takes on what an open gave: `fd`, or the error of an open that failed.
bool Output::take_descriptor(std::string name, int fd) {
    const int error = platform::last_error();
    name_ = std::move(name);
    error_ = 0;
    reported_ = false;
    fd_ = fd;
    open_failed_ = fd < 0 && !platform::interrupted(error);
    if (open_failed_) {
        fail(error);
    }
    owns_fd_ = fd >= 0;
    kind_ = owns_fd_ ? platform::output_kind(fd) : platform::OutputKind::never_waits;
    return owns_fd_;
}

void Output::close() {
    if (owns_fd_) {
        flush();
        // What a stop signal kept from being written stays, for the entry
        // point to write out as the run ends.
        if (held_size_ == 0) {
            release();
        }
    }
}

void Output::release() {
    if (platform::close_descriptor(fd_) != 0) {
        fail(platform::last_error());
    }
    owns_fd_ = false;
    fd_ = -1;
    held_size_ = 0;
}

bool Output::check_reader() {
    if (fd_ >= 0 && error_ == 0 && platform::reader_gone(fd_, kind_)) {
        fail(platform::broken_write());
    }
    return error_ == 0;
}

void Output::fail(int error) noexcept {
    if (error_ == 0) {
        error_ = error != 0 ? error : EIO;
    }
    held_size_ = 0;
}

std::string Output::take_failure() {
    if (error_ == 0 || reported_) {
        return {};
    }
    reported_ = true;
    return std::string(open_failed_ ? "cannot open " : "cannot write ") + name_ + ": " +
           platform::error_text(error_);
}

void Output::write_held(net::Deadline deadline) {
    std::size_t done = 0;
    bool writable = false;
    while (done < held_size_ && fd_ >= 0 && error_ == 0) {
        const auto write = broken_pipe_ends_run_ ? platform::write_without_waiting
                                                 : platform::write_without_pipe_signal;
        const long written = write(fd_, kind_, held_.data() + done, held_size_ - done, writable);
        writable = false;
        // As the run ends, a write that blocks is cut short once its time is
        // up (net::cut_blocking_calls_short_from): then the rest is given up.
        const bool time_up = deadline && net::Clock::now() >= *deadline;
        if (written > 0) {
            done += static_cast<std::size_t>(written);
            if (time_up) {
                break;
            }
            continue;
        }
        const int error = written < 0 ? platform::last_error() : EIO;
        if (platform::interrupted(error)) {
            if (net::pending_stop_signal() != 0 || time_up) {
                break;
            }
            continue;
        }
        if (!platform::would_block(error)) {
            fail(error);
            return;
        }
        const net::WaitResult waited =
            net::wait_for(net::waitable_descriptor(fd_), net::Direction::writable, deadline);
        if (waited == net::WaitResult::failed) {
            fail(platform::last_error());
            return;
        }
        if (waited != net::WaitResult::ready) {
            break; // a stop signal, or the deadline
        }
        writable = true;
    }
    if (done > 0) {
        held_size_ -= done;
        std::memmove(&held_[0], held_.data() + done, held_size_);
    }
}

char* Output::make_room_for(std::size_t size) {
    if (fd_ < 0 || error_ != 0) {
        return nullptr;
    }
    if (held_size_ + size > capacity_) {
        write_held({});
        if (error_ != 0) {
            return nullptr;
        }
    }
    // Made when first written to (a run may open no file), and beyond its
    // capacity only for what a stop signal kept from being written.
    if (held_size_ + size > held_.size()) {
        held_.resize(std::max(held_size_ + size, std::min(capacity_, 2 * held_.size() + 4096)));
    }
    char* at = &held_[held_size_];
    held_size_ += size;
    return at;
}

void Output::track_tail(std::string_view text) {
    const auto newline = text.rfind('\n');
    if (newline != std::string_view::npos) {
        at_line_start();
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

} // namespace cmdclient
