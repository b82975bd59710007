#include "client/line_source.h"

#include "client/console_platform.h"

#include <cstring>

namespace cmdclient {

namespace {
constexpr std::size_t input_block = std::size_t{64} << 10;
}

DescriptorLineSource::DescriptorLineSource(int fd) : fd_(fd), buffer_(new char[input_block]) {}

LineRead DescriptorLineSource::read(std::string& line) {
    line.clear();
    for (;;) {
        const char* start = buffer_.get() + start_;
        const auto* newline = static_cast<const char*>(std::memchr(start, '\n', end_ - start_));
        if (newline != nullptr) {
            line.append(start, newline);
            start_ += static_cast<std::size_t>(newline - start) + 1;
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            return LineRead::line;
        }
        line.append(start, end_ - start_);
        start_ = end_ = 0;
        if (ended_) {
            // A last line without a newline keeps a final CR: it is the user's own.
            return line.empty() ? LineRead::end : LineRead::line;
        }
        const long count = platform::read_some(fd_, buffer_.get(), input_block);
        if (count > 0) {
            end_ = static_cast<std::size_t>(count);
            continue;
        }
        if (count == 0) {
            ended_ = true;
            continue;
        }
        const int error = platform::last_error();
        if (platform::interrupted(error)) {
            return LineRead::interrupted; // a terminal drops the typed line itself
        }
        if (platform::would_block(error)) {
            // A non-blocking descriptor: what was read of the line stays in it.
            if (!platform::wait_until_readable(fd_) &&
                platform::interrupted(platform::last_error())) {
                return LineRead::interrupted;
            }
            continue;
        }
        error_ = error;
        return LineRead::failed;
    }
}

} // namespace cmdclient
