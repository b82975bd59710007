// The one place where the console's system calls differ between POSIX and
// Windows: descriptors, terminals, signals and the standard descriptors' health.
// Everything else in the client is written against the names declared here.
#pragma once

#include <cstddef>

namespace cmdclient::platform {

constexpr int standard_input = 0;
constexpr int standard_output = 1;

bool is_terminal(int fd) noexcept;

// One write or read; -1 with the error in last_error() on failure.
long write_some(int fd, const char* data, std::size_t size) noexcept;
long read_some(int fd, char* data, std::size_t size) noexcept;
int last_error() noexcept;

bool interrupted(int error) noexcept; // a signal cut the call short
bool would_block(int error) noexcept; // the descriptor is non-blocking and not ready

// How a write to a descriptor is kept from blocking where the client could not
// hear a stop signal: the file kinds that never wait are written at once, a
// pipe no more than it has room for, a socket without waiting, and anything
// else (a terminal) with the stop signals let through.
enum class OutputKind { never_waits, pipe, socket, other };
OutputKind output_kind(int fd) noexcept;

// One write that does not block (as far as `kind` allows): the count written,
// or -1 with the error in last_error(). would_block() then means: wait until
// writable and call again with `writable` true.
long write_without_waiting(int fd, OutputKind kind, const char* data, std::size_t size,
                           bool writable) noexcept;

// Opens a reply file for writing, replacing its contents (in text mode where
// the platform has one): the descriptor, or -1 with the error in last_error().
// Opening a FIFO waits for its reader; a stop signal cuts that short.
int open_reply_file(const char* name) noexcept;
// Closes a descriptor: 0, or -1 with the error in last_error().
int close_descriptor(int fd) noexcept;

// The system's text for an error number.
const char* error_text(int error) noexcept;

// Gives each of standard input, output and error that is closed the null
// device, so that the connection never takes one of their numbers (and the
// client's own output never reaches the server). Call before anything opens.
void open_missing_standard_descriptors() noexcept;

// Stop signals are recorded for the client's waits to hear (net/wait.h), and a
// file-size limit makes writes fail instead of killing.
void install_signal_handlers() noexcept;

// Where per-user state lives: $XDG_STATE_HOME, else ~/.local/state. Empty when
// neither can be found.
const char* environment(const char* name) noexcept;

// Creates a folder and its parents for the user alone; true if it exists after.
bool make_private_folders(const char* path) noexcept;

// Opens (creating if needed) a file only its owner may read or write, and
// takes back any wider mode an existing file had. True on success.
bool make_private_file(const char* path) noexcept;

} // namespace cmdclient::platform
