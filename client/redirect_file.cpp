#include "client/redirect_file.h"

#include "client/console_platform.h"
#include "client/stop_policy.h"
#include "client/texts.h"

namespace cmdclient {

namespace {
// A reply file is written in large pieces: fewer writes than the console's.
constexpr std::size_t file_buffer_size = std::size_t{256} << 10;

std::string reply_file_message(const char* what, const std::string& name, int error) {
    return std::string(what) + " '" + name + "': " + platform::error_text(error);
}
} // namespace

RedirectFile::RedirectFile(Console& console, StopPolicy& policy)
    : console_(console), policy_(policy), buffer_(file_buffer_size, policy) {}

RedirectFile::~RedirectFile() {
    if (fd_ >= 0) {
        platform::close_descriptor(fd_);
    }
}

void RedirectFile::open(const std::string& name) {
    name_ = platform::expand_home(name); // messages name the file opened
    error_ = 0;
    fd_ = platform::open_reply_file(name_.c_str());
    // A signal that cut the open short (a FIFO waits for its reader) is acted
    // on, and the open made again.
    while (fd_ < 0 && platform::interrupted(platform::last_error())) {
        policy_.act_on_recorded();
        fd_ = platform::open_reply_file(name_.c_str());
    }
    if (fd_ < 0) {
        console_.report(reply_file_message(texts::cannot_open_reply_file, name_, platform::last_error()));
    }
    buffer_.attach(fd_);
}

void RedirectFile::note_error(int error) noexcept {
    if (error_ == 0) {
        error_ = error;
    }
}

void RedirectFile::write_out() {
    if (fd_ >= 0 && buffer_.pubsync() != 0) {
        note_error(buffer_.error());
    }
}

void RedirectFile::write_out_before_ending(std::chrono::milliseconds limit) {
    if (fd_ >= 0) {
        buffer_.write_out_before_ending(limit);
    }
}

void RedirectFile::close() {
    if (fd_ < 0) {
        return;
    }
    write_out();
    if (platform::close_descriptor(fd_) != 0) {
        note_error(platform::last_error());
    }
    fd_ = -1;
    buffer_.attach(-1);
    if (error_ != 0) {
        console_.report(reply_file_message(texts::cannot_write_reply_file, name_, error_));
    }
}

} // namespace cmdclient
