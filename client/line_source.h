// Where the command loop gets its lines: a plain stream, standard input read
// by the client itself, or the line editor at a terminal.
#pragma once

#include <cstddef>
#include <istream>
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
};

// Lines from a stream (tests, and anywhere no descriptor is at hand).
class StreamLineSource final : public LineSource {
  public:
    explicit StreamLineSource(std::istream& input) : input_(input) {}
    LineRead read(std::string& line) override;

  private:
    std::istream& input_;
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

// Reads one line, of any length, into `line` without its newline; a carriage
// return right before the newline goes too (CR LF line ends). A last line with
// no newline is still a line. False only when no more input is left at all.
bool read_input_line(std::istream& input, std::string& line);

// Splits an optional redirection off `command`: everything after the first '>'
// is the target, less the spaces right after the '>'; the command keeps what
// came before, less its trailing spaces. Without a '>' the command stays exactly
// as typed and the target is "stdout", the console.
void split_redirection(std::string& command, std::string& target);

} // namespace cmdclient
