// Files and descriptors on POSIX systems.
#include "client/platform/files.h"

#include "net/wait.h"

#include <algorithm>
#include <cerrno>
#include <string>

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <limits.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace cmdclient::platform {

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

bool is_folder(const std::string& path) noexcept {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}
} // namespace

long write_some(int fd, const char* data, std::size_t size) noexcept {
    return static_cast<long>(::write(fd, data, size));
}

long read_some(int fd, char* data, std::size_t size) noexcept {
    return static_cast<long>(::read(fd, data, size));
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

bool reader_gone(int fd, OutputKind kind) noexcept {
    if (kind != OutputKind::pipe && kind != OutputKind::socket) {
        return false;
    }
    // The error and hang-up conditions are reported whatever is asked for.
    pollfd entry{fd, 0, 0};
    return ::poll(&entry, 1, 0) == 1 && (entry.revents & (POLLERR | POLLHUP)) != 0;
}

int broken_write() noexcept {
    ::raise(SIGPIPE);
    return EPIPE;
}

long write_without_waiting(int fd, OutputKind kind, const char* data, std::size_t size,
                           bool writable) noexcept {
    switch (kind) {
    case OutputKind::never_waits:
        return write_some(fd, data, size);
    case OutputKind::socket:
        return static_cast<long>(::send(fd, data, size, MSG_DONTWAIT));
    case OutputKind::pipe: {
        // A pipe that polls writable has a free page: PIPE_BUF bytes always fit.
        const std::size_t room =
            writable ? std::max<std::size_t>(pipe_room(fd), PIPE_BUF) : pipe_room(fd);
        if (room == 0) {
            errno = EAGAIN;
            return -1;
        }
        return write_some(fd, data, std::min(size, room));
    }
    case OutputKind::other:
        break;
    }
    return net::with_stop_signals_let_through([&] { return write_some(fd, data, size); });
}

long write_without_pipe_signal(int fd, OutputKind kind, const char* data, std::size_t size,
                               bool writable) noexcept {
    // Only a pipe or a socket raises SIGPIPE: held back for this write alone,
    // and the one it raised taken before it is let through again.
    if (kind != OutputKind::pipe && kind != OutputKind::socket) {
        return write_without_waiting(fd, kind, data, size, writable);
    }
    sigset_t pipe_signal;
    sigset_t before;
    sigemptyset(&pipe_signal);
    sigaddset(&pipe_signal, SIGPIPE);
    ::pthread_sigmask(SIG_BLOCK, &pipe_signal, &before);
    const long written = write_without_waiting(fd, kind, data, size, writable);
    const int error = errno;
    if (written < 0 && error == EPIPE) {
        const timespec no_wait{0, 0};
        while (::sigtimedwait(&pipe_signal, nullptr, &no_wait) < 0 && errno == EINTR) {
        }
    }
    ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
    errno = error;
    return written;
}

int open_reply_file(const char* name) noexcept {
    return net::with_stop_signals_let_through(
        [&] { return ::open(name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666); });
}

int open_command_file(const char* name) noexcept {
    int fd = -1;
    do {
        fd = ::open(name, O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    struct stat status {};
    if (fd >= 0 && ::fstat(fd, &status) == 0 && S_ISDIR(status.st_mode)) {
        ::close(fd);
        errno = EISDIR;
        return -1;
    }
    return fd;
}

int open_log_file(const char* name, bool& mid_line) noexcept {
    mid_line = false;
    // Read access tells how the file ends; a FIFO or a terminal is opened for
    // writing alone, so that a FIFO without a reader fails rather than being
    // read by ourselves.
    struct stat status {};
    const bool plain = ::stat(name, &status) != 0 || S_ISREG(status.st_mode);
    const int flags = O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC;
    int fd = -1;
    do {
        fd = ::open(name, flags | (plain ? O_RDWR : O_WRONLY), 0600);
        if (fd < 0 && plain && errno == EACCES) {
            fd = ::open(name, flags | O_WRONLY, 0600); // a file we may only write
        }
    } while (fd < 0 && errno == EINTR);
    // A file we may only write cannot say how it ends: a blank line is better
    // than one glued to the line a killed run left.
    char last = '\n';
    if (fd >= 0 && ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_size > 0) {
        mid_line = ::pread(fd, &last, 1, status.st_size - 1) != 1 || last != '\n';
    }
    return fd;
}

bool local_time(std::time_t seconds, std::tm& time) noexcept {
    return ::localtime_r(&seconds, &time) != nullptr;
}

int close_descriptor(int fd) noexcept {
    // Linux has closed the descriptor even when a signal interrupts close:
    // calling it again could close another, and nothing was lost.
    return ::close(fd) == 0 || errno == EINTR ? 0 : -1;
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

bool make_private_folders(const char* path) noexcept {
    std::string partial;
    for (const char* c = path; *c != '\0'; ++c) {
        partial += *c;
        if ((c[1] == '/' || c[1] == '\0') && partial != "/" &&
            ::mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) {
            return false;
        }
    }
    return is_folder(path);
}

int open_own_file(const char* path, bool writing, FileType& type) noexcept {
    type = FileType::unopened;
    // Never waiting in open: a FIFO without a writer would hold it for ever.
    const int flags = (writing ? O_RDWR | O_CREAT : O_RDONLY) | O_NONBLOCK | O_CLOEXEC;
    int fd = -1;
    do {
        fd = ::open(path, flags, 0600);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        if (errno == EISDIR) {
            type = FileType::folder;
        }
        return -1;
    }
    struct stat status {};
    struct stat null_device {};
    const bool known = ::fstat(fd, &status) == 0; // if not, the type stays unopened
    if (known && S_ISREG(status.st_mode)) {
        // Takes back any wider mode an existing file had, before anything is written.
        if (!writing || ::fchmod(fd, 0600) == 0) {
            type = FileType::regular;
            return fd;
        }
    } else if (known && S_ISDIR(status.st_mode)) {
        type = FileType::folder;
    } else if (known && S_ISCHR(status.st_mode) && ::stat("/dev/null", &null_device) == 0 &&
               null_device.st_rdev == status.st_rdev) {
        type = FileType::null_device;
    } else if (known) {
        type = FileType::other;
    }
    const int error = errno;
    ::close(fd);
    errno = error;
    return -1;
}

long long file_size(int fd) noexcept {
    struct stat status {};
    return ::fstat(fd, &status) == 0 ? static_cast<long long>(status.st_size) : -1;
}

long read_at(int fd, char* data, std::size_t size, long long offset) noexcept {
    return static_cast<long>(::pread(fd, data, size, static_cast<off_t>(offset)));
}

int write_afresh(int fd) noexcept {
    if (::ftruncate(fd, 0) != 0 || ::lseek(fd, 0, SEEK_SET) != 0) {
        return -1;
    }
    return ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
}

LockResult lock_file(int fd, int limit_ms) noexcept {
    // A lock cannot be waited on with the other descriptors: it is tried
    // again after short pauses of the one wait, which hears stop signals.
    constexpr auto pause = std::chrono::milliseconds(10);
    const auto deadline = net::Clock::now() + std::chrono::milliseconds(limit_ms);
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            return LockResult::taken;
        }
        if (errno != EWOULDBLOCK && errno != EINTR) {
            return LockResult::failed;
        }
        if (net::wait_for(net::nothing_to_wait_on, net::Direction::readable,
                          std::min(deadline, net::Clock::now() + pause)) ==
            net::WaitResult::stop_signal) {
            return LockResult::stopped;
        }
        if (net::Clock::now() >= deadline) {
            return LockResult::busy;
        }
    }
}

std::string expand_home(const std::string& name) {
    const char* home = environment("HOME");
    if (name.compare(0, 2, "~/") != 0 || home == nullptr || *home == '\0') {
        return name;
    }
    return home + name.substr(1);
}

bool matches_wildcard(const std::string& pattern, const std::string& text) noexcept {
    return ::fnmatch(pattern.c_str(), text.c_str(), 0) == 0;
}

std::vector<std::string> folder_entries(const std::string& folder) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
    if (dir == nullptr) {
        return names;
    }
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") {
            continue;
        }
        names.push_back(is_folder(folder + name) ? name + "/" : name);
    }
    ::closedir(dir);
    return names;
}

} // namespace cmdclient::platform
