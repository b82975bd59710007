#include "client/console_platform.h"

#include "net/wait.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>

#ifdef _WIN32
#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <limits.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace cmdclient::platform {

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
OutputKind output_kind(int) noexcept {
    return OutputKind::never_waits; // Windows' console and file writes block by themselves
}
long write_without_waiting(int fd, OutputKind, const char* data, std::size_t size,
                           bool) noexcept {
    return write_some(fd, data, size);
}
int open_reply_file(const char* name) noexcept {
    return ::_open(name, _O_WRONLY | _O_CREAT | _O_TRUNC | _O_TEXT, _S_IREAD | _S_IWRITE);
}
int close_descriptor(int fd) noexcept {
    return ::_close(fd);
}
void open_missing_standard_descriptors() noexcept {}

void install_signal_handlers() noexcept {
    net::catch_stop_signals();
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

OutputKind output_kind(int fd) noexcept {
    struct stat status {};
    if (::fstat(fd, &status) != 0) {
        return OutputKind::other;
    }
    if (S_ISREG(status.st_mode) || S_ISBLK(status.st_mode) ||
        (S_ISCHR(status.st_mode) && ::isatty(fd) == 0)) {
        return OutputKind::never_waits; // a file, /dev/null, /dev/full
    }
    if (S_ISFIFO(status.st_mode)) {
        return OutputKind::pipe;
    }
    return S_ISSOCK(status.st_mode) ? OutputKind::socket : OutputKind::other;
}

namespace {
// What a pipe takes without blocking: its capacity less what it holds, less
// two pages for a partly read first page and a partly filled last one (the
// kernel stores a pipe's bytes page by page).
std::size_t pipe_room(int fd) noexcept {
    const long page = ::sysconf(_SC_PAGESIZE) > 0 ? ::sysconf(_SC_PAGESIZE) : 4096;
    long capacity = 16 * page;
#ifdef F_GETPIPE_SZ
    const int size = ::fcntl(fd, F_GETPIPE_SZ);
    if (size > 0) {
        capacity = size;
    }
#endif
    int queued = 0;
    if (::ioctl(fd, FIONREAD, &queued) != 0) {
        return 0;
    }
    const long used = (queued + page - 1) / page * page + 2 * page;
    return capacity > used ? static_cast<std::size_t>(capacity - used) : 0;
}
} // namespace

long write_without_waiting(int fd, OutputKind kind, const char* data, std::size_t size,
                           bool writable) noexcept {
    switch (kind) {
    case OutputKind::never_waits:
        return write_some(fd, data, size);
    case OutputKind::socket:
        return static_cast<long>(::send(fd, data, size, MSG_DONTWAIT));
    case OutputKind::pipe: {
        // A pipe that polls writable has a free page: PIPE_BUF bytes always fit.
        std::size_t room = pipe_room(fd);
        if (writable && room < PIPE_BUF) {
            room = PIPE_BUF;
        }
        if (room == 0) {
            errno = EAGAIN;
            return -1;
        }
        return write_some(fd, data, size < room ? size : room);
    }
    case OutputKind::other:
        break;
    }
    return net::with_stop_signals_let_through([&] { return write_some(fd, data, size); });
}

int open_reply_file(const char* name) noexcept {
    return net::with_stop_signals_let_through(
        [&] { return ::open(name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666); });
}

int close_descriptor(int fd) noexcept {
    return ::close(fd);
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
    net::catch_stop_signals();
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

} // namespace cmdclient::platform
