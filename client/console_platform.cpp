#include "client/console_platform.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>

#ifdef _WIN32
#include <direct.h>
#include <io.h>
#else
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace cmdclient::platform {

namespace {
// The signal handler's one way to talk to the client: by necessity a global.
volatile std::sig_atomic_t recorded_signal = 0;

extern "C" void record_signal(int signal) {
    recorded_signal = signal;
}
} // namespace

const int interrupt_signal = SIGINT;

long write_some(int fd, const char* data, std::size_t size) noexcept {
#ifdef _WIN32
    return ::_write(fd, data, static_cast<unsigned>(size));
#else
    return static_cast<long>(::write(fd, data, size));
#endif
}

long read_some(int fd, char* data, std::size_t size) noexcept {
#ifdef _WIN32
    return ::_read(fd, data, static_cast<unsigned>(size));
#else
    return static_cast<long>(::read(fd, data, size));
#endif
}

int last_error() noexcept {
    return errno;
}

bool interrupted(int error) noexcept {
    return error == EINTR;
}

bool would_block(int error) noexcept {
    return error == EAGAIN || error == EWOULDBLOCK;
}

const char* error_text(int error) noexcept {
    return std::strerror(error);
}

const char* environment(const char* name) noexcept {
    return std::getenv(name);
}

#ifdef _WIN32
bool is_terminal(int fd) noexcept {
    return ::_isatty(fd) != 0;
}
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
#else
bool is_terminal(int fd) noexcept {
    return ::isatty(fd) != 0;
}

namespace {
bool wait_for(int fd, short events) noexcept {
    pollfd descriptor{fd, events, 0};
    return ::poll(&descriptor, 1, -1) >= 0;
}
} // namespace

bool wait_until_writable(int fd) noexcept {
    return wait_for(fd, POLLOUT);
}
bool wait_until_readable(int fd) noexcept {
    return wait_for(fd, POLLIN);
}

void open_missing_standard_descriptors() noexcept {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
            // open() takes the lowest free number: the one that was closed.
            const int opened = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
            if (opened != fd && opened >= 0) {
                ::close(opened);
            }
        }
    }
}

void install_signal_handlers() noexcept {
    struct sigaction action {};
    action.sa_handler = record_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0; // no restart: a blocked receive or read returns to be told
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        ::sigaction(signal, &action, nullptr);
    }
    std::signal(SIGXFSZ, SIG_IGN);
}

bool make_private_folders(const char* path) noexcept {
    std::string partial;
    for (const char* c = path; *c != '\0'; ++c) {
        partial += *c;
        if ((c[1] == '/' || c[1] == '\0') && partial != "/") {
            if (::mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) {
                return false;
            }
        }
    }
    struct stat status {};
    return ::stat(path, &status) == 0 && S_ISDIR(status.st_mode);
}

bool make_private_file(const char* path) noexcept {
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        return false;
    }
    const bool narrowed = ::fchmod(fd, 0600) == 0;
    ::close(fd);
    return narrowed;
}
#endif

int pending_signal() noexcept {
    return recorded_signal;
}

int take_signal() noexcept {
    const int signal = recorded_signal;
    recorded_signal = 0;
#ifdef _WIN32
    if (signal != 0) {
        install_signal_handlers(); // Windows resets a handler once it has run
    }
#endif
    return signal;
}

void end_by_signal(int signal) noexcept {
    std::signal(signal, SIG_DFL);
    std::raise(signal);
    std::_Exit(128 + signal); // only if the default action did not end us
}

} // namespace cmdclient::platform
