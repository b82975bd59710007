// The one place where the console's system calls differ between POSIX and
// Windows: descriptors, terminals, signals, the standard descriptors' health,
// the environment and private files. Everything else in the client is written
// against the names declared here. console_platform_posix.cpp and
// console_platform_windows.cpp implement them (CMake builds one of the two);
// console_platform.cpp holds what both share.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

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

// Waits until the descriptor can be written or read. False when the wait was
// interrupted by a signal or failed (error in last_error()).
bool wait_until_writable(int fd) noexcept;
bool wait_until_readable(int fd) noexcept;

// The system's text for an error number.
const char* error_text(int error) noexcept;

// Gives each of standard input, output and error that is closed the null
// device, so that the connection never takes one of their numbers (and the
// client's own output never reaches the server). Call before anything opens.
void open_missing_standard_descriptors() noexcept;

// Signals that ask the run to stop (interrupt, terminate, hang-up) are recorded
// and acted on by the client at its next safe point, with interrupted calls
// returning early. A file-size limit makes writes fail instead of killing.
void install_signal_handlers() noexcept;

// The recorded stop signal, or 0; take_signal() also clears it.
int pending_signal() noexcept;
int take_signal() noexcept;

// Ends the process by `signal` with its default action, as if it had never
// been caught, so the parent sees the usual status (130, 143, 129 in shells).
[[noreturn]] void end_by_signal(int signal) noexcept;

// Signal numbers the client tells apart.
extern const int interrupt_signal;

// The value of an environment variable, or null when it is not set.
const char* environment(const char* name) noexcept;

// Creates a folder and its parents for the user alone; true if it exists after.
bool make_private_folders(const char* path) noexcept;

// Opens (creating if needed) a file only its owner may read or write, and
// takes back any wider mode an existing file had. True on success.
bool make_private_file(const char* path) noexcept;

// Opens (creating if needed, as make_private_file does) and locks a file for
// this process alone until unlock_file(): other runs that lock it wait. A
// handle, or -1 with the error in last_error().
int lock_private_file(const char* path) noexcept;
void unlock_file(int handle) noexcept;

// The entries of a folder ("" is the current one) except "." and "..", each
// folder among them with a '/' after its name; empty when it cannot be read.
std::vector<std::string> folder_entries(const std::string& folder);

// While the line editor reads keys, a window resize and a stop key (Ctrl-Z)
// are caught and recorded instead of acted on by the system, so the editor
// can hand the terminal back before it stops and redraw after. Outside that
// time they keep their usual effect (a reply stops as any program does).
enum class EditorSignal { none, resized, stop };
void catch_editor_signals() noexcept;
void release_editor_signals() noexcept;
// The recorded one (a stop before a resize), cleared.
EditorSignal take_editor_signal() noexcept;
// Stops the process as Ctrl-Z would; returns once it is continued.
void stop_process() noexcept;

} // namespace cmdclient::platform
