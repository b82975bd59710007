// Text fed into a pipe by a thread of its own, as standard input would bring
// it: the reading end is `fd()`; the writing end closes when all is written.
#pragma once

#include "tests/unit/sigpipe_blocked.h"

#include <stdexcept>
#include <string>
#include <thread>

#include <unistd.h>

class PipeInput {
  public:
    explicit PipeInput(std::string text) : text_(std::move(text)) {
        int ends[2];
        if (::pipe(ends) != 0) {
            throw std::runtime_error("pipe");
        }
        read_end_ = ends[0];
        writer_ = std::thread([this, fd = ends[1]] {
            const SigpipeBlocked quiet; // a reader that stops early fails the write, not the test
            for (std::size_t done = 0; done < text_.size();) {
                const auto written = ::write(fd, text_.data() + done, text_.size() - done);
                if (written <= 0) {
                    break;
                }
                done += static_cast<std::size_t>(written);
            }
            ::close(fd);
        });
    }
    ~PipeInput() {
        ::close(read_end_); // a writer still blocked fails and ends
        writer_.join();
    }
    PipeInput(const PipeInput&) = delete;
    PipeInput& operator=(const PipeInput&) = delete;

    int fd() const noexcept { return read_end_; }

  private:
    std::string text_;
    int read_end_ = -1;
    std::thread writer_;
};
