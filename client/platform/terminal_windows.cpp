// The terminal and the signals on Windows. The Windows console edits lines
// itself, so the parts that only the line editor needs do nothing here.
#include "client/platform/terminal.h"

#include "net/wait.h"

#include <io.h>

namespace cmdclient::platform {

bool is_terminal(int fd) noexcept {
    return ::_isatty(fd) != 0;
}

void install_signal_handlers() noexcept {
    net::catch_stop_signals();
}

void catch_editor_signals() noexcept {}

void release_editor_signals() noexcept {}

EditorSignal take_editor_signal() noexcept {
    return EditorSignal::none;
}

void stop_process() noexcept {}

} // namespace cmdclient::platform
