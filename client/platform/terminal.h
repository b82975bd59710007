// The terminal and the signals, the one place where they differ between POSIX
// and Windows (terminal_posix.cpp or terminal_windows.cpp, chosen by CMake).
#pragma once

namespace cmdclient::platform {

bool is_terminal(int fd) noexcept;

// Stop signals are recorded for the client's waits to hear (net/wait.h), and a
// file-size limit makes writes fail instead of killing.
void install_signal_handlers() noexcept;

// The rest serves the line editor alone, which Windows builds lack.

// While the line editor reads keys, a window resize, a stop key (Ctrl-Z) and a
// continue (after a stop the editor did not see coming: the system drops a
// pending stop key when a continue comes first) are recorded instead of acted
// on, so the editor can hand the terminal back before it stops and redraw
// after. Outside that time they keep their usual effect.
enum class EditorSignal { none, resized, stop, continued };
void catch_editor_signals() noexcept;
void release_editor_signals() noexcept;
// The recorded one (a stop, then a continue, then a resize), cleared.
EditorSignal take_editor_signal() noexcept;
// Stops as Ctrl-Z would, back once continued: at once if continued since the key.
void stop_process() noexcept;

} // namespace cmdclient::platform
