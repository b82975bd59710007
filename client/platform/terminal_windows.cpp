// The terminal and the signals on Windows, where the console edits lines
// itself: the line editor's part is not built.
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

} // namespace cmdclient::platform
