// The terminal and the signals, the one place where they differ between POSIX
// and Windows (terminal_posix.cpp or terminal_windows.cpp, chosen by CMake).
#pragma once

namespace cmdclient::platform {

bool is_terminal(int fd) noexcept;

// Stop signals are recorded for the client's waits to hear (net/wait.h), and a
// file-size limit makes writes fail instead of killing.
void install_signal_handlers() noexcept;

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
