// Files and descriptors on Windows.
#include "client/platform/files.h"

#include <cerrno>
#include <string>

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

namespace cmdclient::platform {

long write_some(int fd, const char* data, std::size_t size) noexcept {
    return ::_write(fd, data, static_cast<unsigned>(size));
}

long read_some(int fd, char* data, std::size_t size) noexcept {
    return ::_read(fd, data, static_cast<unsigned>(size));
}

// Windows' console and file writes block by themselves, and Ctrl-C does not
// cut them short: there is nothing to keep from waiting.
OutputKind output_kind(int) noexcept {
    return OutputKind::never_waits;
}

long write_without_waiting(int fd, OutputKind, const char* data, std::size_t size, bool) noexcept {
    return write_some(fd, data, size);
}

bool reader_gone(int, OutputKind) noexcept {
    return false; // every output is written as a file is
}

int broken_write() noexcept {
    return EPIPE;
}

long write_without_pipe_signal(int fd, OutputKind kind, const char* data, std::size_t size,
                               bool writable) noexcept {
    return write_without_waiting(fd, kind, data, size, writable); // no SIGPIPE here
}

int open_reply_file(const char* name) noexcept {
    return ::_open(name, _O_WRONLY | _O_CREAT | _O_TRUNC | _O_TEXT, _S_IREAD | _S_IWRITE);
}

int open_command_file(const char* name) noexcept {
    return ::_open(name, _O_RDONLY | _O_TEXT);
}

int open_log_file(const char* name, bool& mid_line) noexcept {
    mid_line = false;
    // Binary reading of the last byte: text mode writes "\r\n", still ending in '\n'.
    const int reader = ::_open(name, _O_RDONLY | _O_BINARY);
    if (reader >= 0) {
        char last = '\n';
        if (::_lseeki64(reader, -1, SEEK_END) >= 0 && ::_read(reader, &last, 1) == 1) {
            mid_line = last != '\n';
        }
        ::_close(reader);
    }
    return ::_open(name, _O_WRONLY | _O_CREAT | _O_APPEND | _O_TEXT, _S_IREAD | _S_IWRITE);
}

bool local_time(std::time_t seconds, std::tm& time) noexcept {
    return ::localtime_s(&time, &seconds) == 0;
}

int close_descriptor(int fd) noexcept {
    return ::_close(fd);
}

void open_missing_standard_descriptors() noexcept {}

// "~" means nothing to Windows' own programs: names are taken as written.
std::string expand_home(const std::string& name) {
    return name;
}

bool matches_wildcard(const std::string&, const std::string&) noexcept {
    return false;
}

} // namespace cmdclient::platform
