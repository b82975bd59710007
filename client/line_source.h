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
    // How messages name the line read last, the `number`th of the run: "line 3".
    virtual std::string line_label(std::size_t number) const {
        return "line " + std::to_string(number);
    }
    // After `failed`, what could not be read and why: "cannot read standard
    // input: Is a directory".
    virtual std::string failure() const;
};

// Lines from a descriptor (a non-blocking one too), read in large blocks through the one
// wait, so a stop signal is heard; a line read in part stays whole for the next read. A read
// error is reported, never taken for the end. A line too long for memory throws bad_alloc.
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

// The commands of -c and the lines of -f files in the order given, then the end. A file
// is read as a pipe is; messages name its lines "FILE:LINE" ("line N" for standard input,
// "-"), and a -c command by its place among them: "command 2".
class ScriptLineSource final : public LineSource {
  public:
    // A file of commands, open for reading, read after the first `after_commands`
    // commands; closed with the source unless it is standard input.
    struct File {
        std::size_t after_commands;
        std::string name; // as opened; "-": standard input
        int fd;
    };
    ScriptLineSource(std::vector<std::string> commands, std::vector<File> files)
        : commands_(std::move(commands)), files_(std::move(files)) {}
    ~ScriptLineSource() override;
    ScriptLineSource(const ScriptLineSource&) = delete;
    ScriptLineSource& operator=(const ScriptLineSource&) = delete;

    LineRead read(std::string& line) override;
    std::string line_label(std::size_t number) const override;
    std::string failure() const override;

  private:
    std::vector<std::string> commands_;
    std::vector<File> files_;
    std::size_t next_command_ = 0;
    std::size_t next_file_ = 0;
    std::unique_ptr<DescriptorLineSource> reading_; // of files_[next_file_ - 1]
    std::size_t file_line_ = 0;                     // its lines read so far
    bool from_file_ = false;                        // the last line came from it
};

} // namespace cmdclient
