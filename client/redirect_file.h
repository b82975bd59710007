// The file a redirected reply goes to: opened afresh for each reply (its
// contents replaced), written through a plain buffer like the console's, and
// closed after the reply. Its first error costs one line on standard error;
// the reply is still read to its end.
#pragma once

#include "client/console.h"
#include "client/descriptor_buffer.h"

#include <chrono>
#include <string>
#include <string_view>

namespace cmdclient {

class RedirectFile {
  public:
    RedirectFile(Console& console, StopPolicy& policy);
    ~RedirectFile();

    RedirectFile(const RedirectFile&) = delete;
    RedirectFile& operator=(const RedirectFile&) = delete;

    // Opens `name` ("~/" at its start is the home folder: platform::expand_home)
    // for this reply. A file that cannot be opened is reported at
    // once, and what is written until close() is then dropped.
    void open(const std::string& name);
    bool is_open() const noexcept { return fd_ >= 0; }

    void write(std::string_view text) {
        if (fd_ >= 0 && !buffer_.append(text.data(), text.size())) {
            note_error(buffer_.error());
        }
    }

    // Writes out what it holds (before the client waits for more of the reply).
    void write_out();
    // Writes out what it holds as the run ends by a signal, waiting at most `limit`.
    void write_out_before_ending(std::chrono::milliseconds limit);

    // Writes out, closes, and reports the file's first error, if any.
    void close();

  private:
    void note_error(int error) noexcept;

    Console& console_;
    StopPolicy& policy_;
    DescriptorBuffer buffer_;
    std::string name_;
    int fd_ = -1;
    int error_ = 0;
};

} // namespace cmdclient
