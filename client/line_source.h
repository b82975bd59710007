// Where the command loop gets its lines: standard input read by the client
// itself, or the line editor at a terminal.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace cmdclient {

enum class LineRead {
    line,        // a line was read (possibly the last one, without a newline)
    end,         // no more input at all
    interrupted, // a stop signal arrived while waiting (it is left to the caller)
    failed,      // input cannot be read; error() says why
};

class LineSource {
  public:
    virtual ~LineSource() = default;
    // Reads the next line, without its line end, into `line`.
    virtual LineRead read(std::string& line) = 0;
    // The system's error number after `failed`.
    virtual int error() const noexcept { return 0; }
    // The loop took this line (sent it, or quit on it); a source with history keeps it.
    virtual void remember(const std::string& /*line*/) {}
    // What its lines are called in messages, before their number: "line 3".
    virtual const char* line_name() const noexcept { return "line"; }
};

// Lines given on the command line, in order; then the end of input.
class ListLineSource final : public LineSource {
  public:
    explicit ListLineSource(std::vector<std::string> lines) : lines_(std::move(lines)) {}
    LineRead read(std::string& line) override {
        if (next_ == lines_.size()) {
            return LineRead::end;
        }
        line = lines_[next_++];
        return LineRead::line;
    }
    const char* line_name() const noexcept override { return "command"; }

  private:
    std::vector<std::string> lines_;
    std::size_t next_ = 0;
};

// Lines from a file descriptor, read in large blocks. Every wait for input goes
// through the one wait, so a stop signal is heard; a line read in part stays
// whole for the next read. A non-blocking descriptor is waited on; a read error
// is reported, never taken for the end. Lines have no length limit: one too
// long for memory throws std::bad_alloc.
class DescriptorLineSource final : public LineSource {
  public:
    explicit DescriptorLineSource(int fd);
    LineRead read(std::string& line) override;
    int error() const noexcept override { return error_; }

  private:
    int fd_;
    std::unique_ptr<char[]> buffer_;
    std::size_t start_ = 0; // unread bytes are buffer_[start_, end_)
    std::size_t end_ = 0;
    std::string partial_; // the start of a line whose end has not come yet
    bool ended_ = false;
    int error_ = 0;
};

} // namespace cmdclient
