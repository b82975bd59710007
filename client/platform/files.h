// Files and descriptors, the one place where their system calls differ
// between POSIX and Windows (files_posix.cpp or files_windows.cpp, chosen by
// CMake): reads and writes that do not block, reply files, private files and
// folders, and the standard descriptors' health.
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

// One write that does not block (as far as `kind` allows): the count written,
// or -1 with the error in last_error(). would_block() then means: wait until
// writable and call again with `writable` true.
long write_without_waiting(int fd, OutputKind kind, const char* data, std::size_t size,
                           bool writable) noexcept;
// The same write, but a reader that has gone fails it with EPIPE instead of
// ending the process by SIGPIPE: for every output but standard output, whose
// broken pipe ends the run as it ends other filters.
long write_without_pipe_signal(int fd, OutputKind kind, const char* data, std::size_t size,
                               bool writable) noexcept;

// True when the reader of a pipe or socket `fd` has gone (the system says so
// without a write); false for other kinds, and when it cannot be told.
bool reader_gone(int fd, OutputKind kind) noexcept;
// What a write whose reader has gone does, without writing: raises the signal
// that ends the process (SIGPIPE, unless ignored or blocked), and returns the
// error the write would report.
int broken_write() noexcept;

// The functions that open return the descriptor, or -1 with the error in
// last_error(). A reply file is written afresh (in text mode where the
// platform has one); opening a FIFO waits for its reader, or a stop signal.
int open_reply_file(const char* name) noexcept;
// A file of commands, for reading (in text mode where there is one); a folder fails.
int open_command_file(const char* name) noexcept;
// The session log, for appending, created for its owner alone; never waits: a
// FIFO with no reader, or a folder, fails. `mid_line`: what the file holds ends
// without a newline (a run killed mid-line).
int open_log_file(const char* name, bool& mid_line) noexcept;
// The local time of `seconds` since the epoch; false when it cannot be told.
bool local_time(std::time_t seconds, std::tm& time) noexcept;
// 0, or -1 with the error in last_error().
int close_descriptor(int fd) noexcept;

// Gives each of standard input, output and error that is closed the null
// device, so that the connection never takes one of their numbers (and the
// client's own output never reaches the server). Call before anything opens.
void open_missing_standard_descriptors() noexcept;

// A file's name as the user means it (a reply file's, -L's): a leading "~/" stands for the
// home folder ($HOME, when set and not empty), as in a shell. Anything else (a
// bare "~", "~user") is taken as written, and on Windows every name is.
std::string expand_home(const std::string& name);

// Whether `text` matches the shell wildcard `pattern` as a whole ('*', '?',
// '[...]'). Only the line editor's history uses it: false on Windows.
bool matches_wildcard(const std::string& pattern, const std::string& text) noexcept;

// The rest serves the line editor and its history file alone, which Windows
// builds lack.

// Creates a folder and its parents for the user alone; true if it exists after.
bool make_private_folders(const char* path) noexcept;

// What a path names, for a file the client keeps for itself (its history).
enum class FileType { regular, null_device, folder, other, unopened };

// Opens `path` for reading, or, when `writing`, for reading and writing
// (creating it for its owner alone, and taking back any wider mode it had),
// without ever waiting: a FIFO without a writer or a device is never read or
// waited on. The descriptor of a regular file; -1 for anything else, with
// `type` saying what the path is (unopened: the error is in last_error()).
int open_own_file(const char* path, bool writing, FileType& type) noexcept;

// The size of the open file `fd`, or -1 with the error in last_error().
long long file_size(int fd) noexcept;
// One read of the open file `fd` at `offset`: the count, or -1 with the error.
long read_at(int fd, char* data, std::size_t size, long long offset) noexcept;
// Empties the open file `fd` and gives a new descriptor for it, at its start,
// for writing it afresh; -1 with the error in last_error().
int write_afresh(int fd) noexcept;

// Takes the lock on the open file `fd` that other runs take too before they
// change it, waiting at most `limit_ms` for a run that holds it: taken, busy
// (still held by another), stopped (a stop signal came meanwhile) or failed
// (the error in last_error()). Closing the descriptor releases it.
enum class LockResult { taken, busy, stopped, failed };
LockResult lock_file(int fd, int limit_ms) noexcept;

// The entries of a folder ("" is the current one) except "." and "..", each
// folder among them with a '/' after its name; empty when it cannot be read.
std::vector<std::string> folder_entries(const std::string& folder);

} // namespace cmdclient::platform
