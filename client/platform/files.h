// Files and descriptors, the one place where their system calls differ between
// POSIX and Windows (files_posix.cpp or files_windows.cpp, chosen by CMake).
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace cmdclient::platform {

constexpr int standard_input = 0;
constexpr int standard_output = 1;
constexpr int standard_error = 2;

// One write or read; -1 with the error in last_error() on failure.
long write_some(int fd, const char* data, std::size_t size) noexcept;
long read_some(int fd, char* data, std::size_t size) noexcept;
inline int last_error() noexcept {
    return errno;
}

// A signal cut the call short.
inline bool interrupted(int error) noexcept {
    return error == EINTR;
}
// The descriptor is non-blocking and not ready.
inline bool would_block(int error) noexcept {
    return error == EAGAIN || error == EWOULDBLOCK;
}
inline const char* error_text(int error) noexcept {
    return std::strerror(error);
}
// The value of an environment variable, or null when it is not set.
inline const char* environment(const char* name) noexcept {
    return std::getenv(name);
}

// How a write is kept from blocking where the client could not hear a stop
// signal: the file kinds that never wait are written at once, a pipe no more
// than it has room for, a socket without waiting, and anything else (a
// terminal) with the stop signals let through.
enum class OutputKind { never_waits, pipe, socket, other };
OutputKind output_kind(int fd) noexcept;

// One write that does not block (as far as `kind` allows): the count, or -1 with
// last_error(); would_block(): wait until writable, call again with `writable`.
long write_without_waiting(int fd, OutputKind kind, const char* data, std::size_t size,
                           bool writable) noexcept;
// The same, but a gone reader fails it with EPIPE rather than SIGPIPE: for every
// output but standard output, whose broken pipe ends the run as in other filters.
long write_without_pipe_signal(int fd, OutputKind kind, const char* data, std::size_t size,
                               bool writable) noexcept;

// True when the system tells, without a write, that the reader of a pipe or socket has gone.
bool reader_gone(int fd, OutputKind kind) noexcept;
// Does what a write to a gone reader does (SIGPIPE, unless ignored or blocked)
// without writing, and returns the error such a write reports.
int broken_write() noexcept;

// Each open gives the descriptor, or -1 with the error in last_error(). A reply file is
// written afresh (in text mode where there is one); a FIFO waits for a reader or a stop signal.
int open_reply_file(const char* name) noexcept;
// A file of commands, for reading (text mode where there is one); a folder fails.
int open_command_file(const char* name) noexcept;
// The session log, for appending, created for its owner alone, never waiting (a FIFO
// with no reader, or a folder, fails); `mid_line`: it ends without a newline (a killed run).
int open_log_file(const char* name, bool& mid_line) noexcept;
// False when the local time of `seconds` since the epoch cannot be told.
bool local_time(std::time_t seconds, std::tm& time) noexcept;
// 0, or -1 with the error in last_error().
int close_descriptor(int fd) noexcept;

// Gives each closed standard descriptor the null device, so that the connection
// never takes its number. Call before anything opens.
void open_missing_standard_descriptors() noexcept;

// A file's name as the user means it: a leading "~/" is the home folder ($HOME,
// when set and not empty), as in a shell; anything else, and on Windows every name, as written.
std::string expand_home(const std::string& name);

// Whether `text` matches the shell wildcard `pattern` as a whole; false on Windows.
bool matches_wildcard(const std::string& pattern, const std::string& text) noexcept;

// The rest serves the line editor and its history file alone, which Windows
// builds lack.

// Creates a folder and its parents for the user alone; true if it exists after.
bool make_private_folders(const char* path) noexcept;

enum class FileType { regular, null_device, folder, other, unopened };

// Opens `path` for reading (or, when `writing`, also for writing, created or
// narrowed to its owner alone) without ever waiting: the descriptor of a
// regular file; -1 for any other, with `type` (unopened: the error in last_error()).
int open_own_file(const char* path, bool writing, FileType& type) noexcept;

// The size of the open file `fd`, or -1 with the error in last_error().
long long file_size(int fd) noexcept;
// One read of the open file `fd` at `offset`: the count, or -1 with the error.
long read_at(int fd, char* data, std::size_t size, long long offset) noexcept;
// Empties the open file `fd` and gives a new descriptor for it, at its start; -1 on failure.
int write_afresh(int fd) noexcept;

// Takes the lock that runs take before they change the file, waiting at most `limit_ms`
// (busy: still held; stopped: by a stop signal; failed: the error in last_error()).
// Closing the descriptor releases it.
enum class LockResult { taken, busy, stopped, failed };
LockResult lock_file(int fd, int limit_ms) noexcept;

// A folder's entries ("" is the current one) but "." and "..", folders with a
// '/' after; empty when it cannot be read.
std::vector<std::string> folder_entries(const std::string& folder);

} // namespace cmdclient::platform
