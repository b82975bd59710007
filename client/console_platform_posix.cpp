// The console's system calls on POSIX systems.
#include "client/console_platform.h"

#include "net/wait.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
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
// The signal handler's one way to talk to the client: by necessity globals.
volatile std::sig_atomic_t editor_resized = 0;
volatile std::sig_atomic_t editor_stop = 0;

extern "C" void record_editor_signal(int signal) {
    if (signal == SIGTSTP) {
        editor_stop = 1;
    } else {
        editor_resized = 1;
    }
}

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

bool is_terminal(int fd) noexcept {
    return ::isatty(fd) != 0;
}

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

bool make_private_file(const char* path) noexcept {
    const int handle = lock_private_file(path);
    if (handle < 0) {
        return false;
    }
    unlock_file(handle);
    return true;
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

namespace {
struct sigaction tstp_before {};
struct sigaction winch_before {};
} // namespace

void catch_editor_signals() noexcept {
    struct sigaction action {};
    action.sa_handler = record_editor_signal;
    sigemptyset(&action.sa_mask);
    // The editor's wait for a key always returns to be told (a wait is never
    // restarted); any other call, such as libedit's own terminal set-up, is
    // restarted rather than failing half done.
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGWINCH, &action, &winch_before);
    ::sigaction(SIGTSTP, nullptr, &tstp_before);
    if (tstp_before.sa_handler != SIG_IGN) { // a parent that ignores stops keeps it so
        ::sigaction(SIGTSTP, &action, nullptr);
    }
}

void release_editor_signals() noexcept {
    ::sigaction(SIGTSTP, &tstp_before, nullptr);
    ::sigaction(SIGWINCH, &winch_before, nullptr);
}

EditorSignal take_editor_signal() noexcept {
    if (editor_stop != 0) {
        editor_stop = 0;
        return EditorSignal::stop;
    }
    if (editor_resized != 0) {
        editor_resized = 0;
        return EditorSignal::resized;
    }
    return EditorSignal::none;
}

void stop_process() noexcept {
    // The key stopped the rest of the job already; this process stops alone.
    struct sigaction caught {};
    struct sigaction stop {};
    stop.sa_handler = SIG_DFL;
    sigemptyset(&stop.sa_mask);
    ::sigaction(SIGTSTP, &stop, &caught);
    std::raise(SIGTSTP);
    ::sigaction(SIGTSTP, &caught, nullptr);
}

} // namespace cmdclient::platform
