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
        return write_some(fd, data, std::min(size, room));
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
    if (fd < 0) {
        return -1;
    }
    char last = '\n';
    if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_size > 0 &&
        ::pread(fd, &last, 1, status.st_size - 1) == 1) {
        mid_line = last != '\n';
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
        if ((c[1] == '/' || c[1] == '\0') && partial != "/") {
            if (::mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) {
                return false;
            }
        }
    }
    return is_folder(path);
}

int lock_private_file(const char* path) noexcept {
    const int fd = ::open(path, O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        return -1;
    }
    // Takes back any wider mode an existing file had, before anything is written.
    int result = ::fchmod(fd, 0600);
    while (result == 0 && (result = ::flock(fd, LOCK_EX)) != 0 && errno == EINTR) {
        result = 0; // a signal while waiting for the other run: wait on
    }
    if (result != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

void unlock_file(int handle) noexcept {
    ::close(handle); // closing releases the lock
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
