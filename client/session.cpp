#include "client/session.h"

#include "client/console_platform.h"
#include "client/texts.h"

#include <cerrno>
#include <string>

namespace cmdclient {

namespace {
constexpr std::size_t file_buffer_size = std::size_t{256} << 10;

std::string reply_file_message(const char* what, const std::string& target, int error) {
    return std::string(what) + " '" + target + "': " + platform::error_text(error);
}
} // namespace

void Session::use_large_file_buffer() {
    // Set before the first open; libstdc++ keeps it for every later one.
    file_buffer_.reset(new char[file_buffer_size]);
    file_.rdbuf()->pubsetbuf(file_buffer_.get(), file_buffer_size);
}

bool Session::open_redirect(const std::string& target) {
    file_.clear(); // a stream left failed by an earlier redirect starts clear
    file_error_ = 0;
    errno = 0;
    file_.open(target, std::ios::out | std::ios::trunc);
    if (!file_.is_open()) {
        console_.report(reply_file_message(texts::cannot_open_reply_file, target, errno));
        return false;
    }
    return true;
}

void Session::note_file_error() {
    // errno is that of the write that failed only until the next call: keep it now.
    if (file_error_ == 0) {
        file_error_ = errno != 0 ? errno : EIO;
    }
}

void Session::close_redirect(const std::string& target) {
    if (file_.fail()) {
        note_file_error();
    }
    errno = 0;
    file_.close();
    if (file_.fail()) {
        note_file_error();
    }
    if (file_error_ != 0) {
        console_.report(reply_file_message(texts::cannot_write_reply_file, target, file_error_));
    }
}

ReplyEnd Session::exchange(const std::string& command, const std::string& target) {
    try {
        connection_->write(command);
    } catch (const net::SocketException&) {
        // The server may still answer what it received; the reply decides.
    }

    to_console_ = target == texts::console_target;
    file_open_ = !to_console_ && open_redirect(target);
    // A file never gets the closing "Ok"; the console leaves it out only when
    // the line editor draws it as part of the prompt.
    strip_marker_ = !to_console_ || console_.mode().editor_prompt;
    discarding_ = false;
    reply_started_ = false;

    const ReplyEnd end = relay_reply(
        [this](std::string& chunk) { connection_->read(chunk, *this); }, chunk_, *this);
    if (file_open_) {
        close_redirect(target);
        file_open_ = false;
    }
    switch (end) {
    case ReplyEnd::end_marker:
        if (strip_marker_ || discarding_) {
            console_.prompt();
        } else {
            console_.show(texts::prompt_rest);
        }
        break;
    case ReplyEnd::syntax_error:
        console_.show(texts::after_syntax_error);
        console_.prompt();
        break;
    case ReplyEnd::connection_lost: {
        console_.show(texts::receive_failed);
        const int error = connection_->last_error();
        console_.report("connection to " + peer_ +
                        (error == 0 ? std::string(" closed by the server")
                                    : " lost: " + net::socket_error_text(error)));
        break;
    }
    }
    return end;
}

void Session::write(std::string_view text) {
    if (discarding_) {
        return;
    }
    if (to_console_) {
        console_.show(text);
    } else if (file_open_) {
        put(file_, text);
        if (!file_.good()) {
            note_file_error();
        }
    }
}

void Session::after_chunk() {
    if (platform::pending_signal() != 0) {
        act_on_signal(false);
    }
    if (to_console_ && console_.mode().shows_each_chunk) {
        console_.flush();
    }
}

void Session::before_waiting() {
    write_out();
    // A signal that came since the last check would otherwise wait with us.
    if (platform::pending_signal() != 0) {
        act_on_signal(false);
    }
}

bool Session::worth_looking_first() {
    // The first receive of a reply follows the command at once: its answer is
    // seldom there yet, so looking first would mostly cost a call.
    const bool started = reply_started_;
    reply_started_ = true;
    return started;
}

void Session::interrupted() {
    act_on_signal(false);
}

void Session::write_out() {
    console_.flush();
    if (file_open_) {
        file_.flush();
        if (!file_.good()) {
            note_file_error();
        }
    }
}

void Session::start_discarding() {
    // Whatever arrived before the interrupt stays: on screen, or in the file.
    write_out();
    discarding_ = true;
    console_.report(texts::discarding_reply);
}

bool Session::act_on_signal(bool at_prompt) {
    const int signal = platform::take_signal();
    if (signal == 0) {
        return false;
    }
    if (signal == platform::interrupt_signal && console_.mode().interactive) {
        if (at_prompt) {
            return true;
        }
        if (!discarding_) {
            start_discarding();
            return true;
        }
    }
    write_out();
    platform::end_by_signal(signal);
}

} // namespace cmdclient
