#include "client/line_source.h"

#include "client/platform/files.h"
#include "client/texts.h"
#include "net/wait.h"

#include <cstring>

namespace cmdclient {

constexpr std::size_t input_block = std::size_t{64} << 10;

std::string LineSource::failure() const {
    return std::string(texts::cannot_read_input) + ": " + platform::error_text(error());
}

DescriptorLineSource::DescriptorLineSource(int fd) : fd_(fd), buffer_(new char[input_block]) {}

LineRead DescriptorLineSource::read(std::string& line) {
    for (;;) {
        const char* start = buffer_.get() + start_;
        const auto* newline = static_cast<const char*>(std::memchr(start, '\n', end_ - start_));
        if (newline != nullptr) {
            line.assign(partial_).append(start, newline);
            partial_.clear();
            start_ += static_cast<std::size_t>(newline - start) + 1;
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            return LineRead::line;
        }
        partial_.append(start, end_ - start_);
        start_ = end_ = 0;
        if (ended_) {
            // A last line without a newline keeps a final CR: it is the user's own.
            line.swap(partial_);
            partial_.clear();
            return line.empty() ? LineRead::end : LineRead::line;
        }
        switch (net::wait_for(net::waitable_descriptor(fd_), net::Direction::readable, {})) {
        case net::WaitResult::ready:
        case net::WaitResult::timed_out:
        case net::WaitResult::interrupted:
            break;
        case net::WaitResult::stop_signal:
            return LineRead::interrupted; // what was read of the line stays
        case net::WaitResult::failed:
            error_ = platform::last_error();
            return LineRead::failed;
        }
        const long count = platform::read_some(fd_, buffer_.get(), input_block);
        if (count >= 0) {
            end_ = static_cast<std::size_t>(count);
            ended_ = count == 0;
            continue;
        }
        const int error = platform::last_error();
        if (platform::interrupted(error) || platform::would_block(error)) {
            continue; // a non-blocking descriptor, or a signal: wait again
        }
        error_ = error;
        return LineRead::failed;
    }
}

ScriptLineSource::~ScriptLineSource() {
    for (const File& file : files_) {
        if (file.fd != platform::standard_input) {
            platform::close_descriptor(file.fd);
        }
    }
}

LineRead ScriptLineSource::read(std::string& line) {
    for (;;) {
        if (reading_) {
            const LineRead read = reading_->read(line);
            if (read == LineRead::line) {
                ++file_line_;
                from_file_ = true;
            }
            if (read != LineRead::end) {
                return read;
            }
            reading_.reset();
        }
        if (next_file_ < files_.size() && files_[next_file_].after_commands == next_command_) {
            reading_ = std::make_unique<DescriptorLineSource>(files_[next_file_++].fd);
            file_line_ = 0;
            continue;
        }
        if (next_command_ == commands_.size()) {
            return LineRead::end;
        }
        line = commands_[next_command_++];
        from_file_ = false;
        return LineRead::line;
    }
}

std::string ScriptLineSource::line_label(std::size_t) const {
    if (!from_file_) {
        return "command " + std::to_string(next_command_);
    }
    const std::string& name = files_[next_file_ - 1].name;
    return name == "-" ? "line " + std::to_string(file_line_)
                       : name + ":" + std::to_string(file_line_);
}

std::string ScriptLineSource::failure() const {
    const std::string& name = files_[next_file_ - 1].name;
    if (name == "-") {
        return reading_->failure();
    }
    return std::string(texts::cannot_read_command_file) + " '" + name +
           "': " + platform::error_text(reading_->error());
}

} // namespace cmdclient
