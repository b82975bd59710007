// The console's system calls on Windows. The Windows console edits lines
// itself, so the parts that only the line editor needs do nothing here.
#include "client/console_platform.h"

#include <cerrno>
#include <csignal>
#include <string>

#include <direct.h>
#include <io.h>

namespace cmdclient::platform {

namespace {
// The signal handler's one way to talk to the client: by necessity a global.
volatile std::sig_atomic_t recorded_signal = 0;

extern "C" void record_signal(int signal) {
    recorded_signal = signal;
}
} // namespace

bool is_terminal(int fd) noexcept {
    return ::_isatty(fd) != 0;
}

long write_some(int fd, const char* data, std::size_t size) noexcept {
    return ::_write(fd, data, static_cast<unsigned>(size));
}

long read_some(int fd, char* data, std::size_t size) noexcept {
    return ::_read(fd, data, static_cast<unsigned>(size));
}

// Windows descriptors are never non-blocking: there is nothing to wait for.
bool wait_until_writable(int) noexcept {
    return true;
}

bool wait_until_readable(int) noexcept {
    return true;
}

void open_missing_standard_descriptors() noexcept {}

void install_signal_handlers() noexcept {
    std::signal(SIGINT, record_signal);
    std::signal(SIGTERM, record_signal);
}

int pending_signal() noexcept {
    return recorded_signal;
}

int take_signal() noexcept {
    const int signal = recorded_signal;
    recorded_signal = 0;
    if (signal != 0) {
        install_signal_handlers(); // Windows resets a handler once it has run
    }
    return signal;
}

bool make_private_folders(const char* path) noexcept {
    std::string partial;
    for (const char* c = path; *c != '\0'; ++c) {
        partial += *c;
        if ((c[1] == '/' || c[1] == '\\' || c[1] == '\0') && partial.size() > 2) {
            ::_mkdir(partial.c_str());
        }
    }
    return true;
}

bool make_private_file(const char*) noexcept {
    return true;
}

int lock_private_file(const char*) noexcept {
    errno = ENOSYS;
    return -1;
}

void unlock_file(int) noexcept {}

std::vector<std::string> folder_entries(const std::string&) {
    return {};
}

void catch_editor_signals() noexcept {}

void release_editor_signals() noexcept {}

EditorSignal take_editor_signal() noexcept {
    return EditorSignal::none;
}

void stop_process() noexcept {}

} // namespace cmdclient::platform
