// The console's system calls on POSIX systems.
#include "client/console_platform.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <string>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace cmdclient::platform {

namespace {
// The signal handlers' one way to talk to the client: by necessity globals.
volatile std::sig_atomic_t recorded_signal = 0;
volatile std::sig_atomic_t editor_resized = 0;
volatile std::sig_atomic_t editor_stop = 0;

extern "C" void record_signal(int signal) {
    recorded_signal = signal;
}

extern "C" void record_editor_signal(int signal) {
    if (signal == SIGTSTP) {
        editor_stop = 1;
    } else {
        editor_resized = 1;
    }
}

bool wait_for(int fd, short events) noexcept {
    pollfd descriptor{fd, events, 0};
    return ::poll(&descriptor, 1, -1) >= 0;
}

void set_handler(int signal, void (*handler)(int)) noexcept {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0; // no restart: a blocked receive or read returns to be told
    ::sigaction(signal, &action, nullptr);
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
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        set_handler(signal, record_signal);
    }
    std::signal(SIGXFSZ, SIG_IGN);
}

int pending_signal() noexcept {
    return recorded_signal;
}

int take_signal() noexcept {
    const int signal = recorded_signal;
    recorded_signal = 0;
    return signal;
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
    action.sa_flags = 0; // the editor's read returns to be told
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
