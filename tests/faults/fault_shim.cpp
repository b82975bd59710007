// A preloadable library (LD_PRELOAD) that counts the client's system calls by
// kind and makes one of them fail, or come out short, as the kernel could.
//
// FAULT_COUNTS  file the counters live in (mapped shared, so they survive a
//               killed run); created and sized by the shim
// FAULT_KIND    the kind to fault (see `kind_names`), FAULT_CALL its 1-based call
// FAULT_ACTION  errno:N | short1 | half | eof | storm
// FAULT_FILE_MARK  a redirect file is one whose path contains this text
// FAULT_LOG_MARK   the session log is the file whose path contains this text
// FAULT_OFFERED    file that gets, in order, what the client offered to
//                  standard output and error: what each write moved, and all
//                  of a write that the shim failed for good
//
// Without FAULT_KIND the shim only counts. When the fault fires, the counters
// at that moment and the call's flags are copied aside, so the runner knows
// how many commands had been sent before it.
#include <dlfcn.h>
#include <execinfo.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

extern "C" void* __libc_malloc(size_t size);

namespace {

enum Kind {
    k_socket,
    k_setsockopt,
    k_connect,
    k_send,
    k_recv,
    k_poll,
    k_read0,
    k_write1,
    k_write2,
    k_file_open,
    k_file_write,
    k_file_close,
    k_malloc,
    k_storm,
    k_log_open,
    k_log_write,
    k_log_close,
    kind_count
};
const char* const kind_names[kind_count] = {
    "socket", "setsockopt", "connect",   "send",       "recv",       "poll",   "read0",
    "write1", "write2",     "file_open", "file_write", "file_close", "malloc", "storm",
    "log_open", "log_write", "log_close"};

// The layout the runner reads (tests/faults/run_faults.py, COUNTS_LAYOUT).
struct Counters {
    std::uint64_t calls[kind_count];
    std::uint64_t at_fault[kind_count]; // the counters when the fault fired
    std::int64_t fired;                 // 1 once the fault has been injected
    std::int64_t fault_flags;           // flags of the faulted send/recv
    std::int64_t options[16];           // setsockopt: level << 16 | name, per call
};

Counters* counters = nullptr;
int fault_kind = -1;
std::uint64_t fault_call = 0;
enum Action { a_none, a_errno, a_short1, a_half, a_eof, a_storm } action = a_none;
int fault_errno = 0;
const char* file_mark = nullptr;
int file_fd = -1;       // the open redirect file's descriptor
const char* log_mark = nullptr;
int log_fd = -1; // the session log's descriptor
int offered_fd = -1; // FAULT_OFFERED's descriptor
bool started = false;   // allocations count only from the start of main
bool inside = false;    // our own calls (dlsym, fileno, ...) are not counted

// The next definition of `name`; what dlsym allocates is neither counted nor failed.
template <typename F> F real(const char* name) {
    const bool was_inside = inside;
    inside = true;
    F next = reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
    inside = was_inside;
    return next;
}

void ignore_signal(int) {}

// A signal every millisecond, without SA_RESTART: every blocking call the
// client makes from now on may end early with EINTR.
void start_storm() {
    struct sigaction act {};
    act.sa_handler = ignore_signal;
    sigemptyset(&act.sa_mask);
    act.sa_flags = 0;
    sigaction(SIGALRM, &act, nullptr);
    itimerval every{{0, 1000}, {0, 1000}};
    setitimer(ITIMER_REAL, &every, nullptr);
}

__attribute__((constructor)) void set_up() {
    inside = true;
    const char* path = getenv("FAULT_COUNTS");
    if (path != nullptr) {
        const int fd = real<int (*)(const char*, int, ...)>("open")(
            path, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (fd >= 0 && ftruncate(fd, sizeof(Counters)) == 0) {
            void* map = mmap(nullptr, sizeof(Counters), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
            if (map != MAP_FAILED) {
                counters = static_cast<Counters*>(map);
            }
        }
        if (fd >= 0) {
            real<int (*)(int)>("close")(fd);
        }
    }
    const char* offered = getenv("FAULT_OFFERED");
    if (offered != nullptr) {
        offered_fd = real<int (*)(const char*, int, ...)>("open")(
            offered, O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0600);
    }
    file_mark = getenv("FAULT_FILE_MARK");
    log_mark = getenv("FAULT_LOG_MARK");
    const char* kind = getenv("FAULT_KIND");
    const char* call = getenv("FAULT_CALL");
    const char* how = getenv("FAULT_ACTION");
    if (kind != nullptr && call != nullptr && how != nullptr) {
        for (int k = 0; k < kind_count; ++k) {
            if (strcmp(kind, kind_names[k]) == 0) {
                fault_kind = k;
            }
        }
        fault_call = strtoull(call, nullptr, 10);
        if (strncmp(how, "errno:", 6) == 0) {
            action = a_errno;
            fault_errno = atoi(how + 6);
        } else if (strcmp(how, "short1") == 0) {
            action = a_short1;
        } else if (strcmp(how, "half") == 0) {
            action = a_half;
        } else if (strcmp(how, "eof") == 0) {
            action = a_eof;
        } else if (strcmp(how, "storm") == 0) {
            action = a_storm;
        }
    }
    inside = false;
}

// Counts one call of `kind`; true when this call is the one to fault.
bool count(Kind kind, long flags = 0) {
    if (counters == nullptr || inside) {
        return false;
    }
    const std::uint64_t n = __atomic_add_fetch(&counters->calls[kind], 1, __ATOMIC_SEQ_CST);
    if (kind != fault_kind || n != fault_call || counters->fired != 0) {
        return false;
    }
    memcpy(counters->at_fault, counters->calls, sizeof counters->calls);
    counters->fault_flags = flags;
    counters->fired = 1;
    return true;
}

// How many bytes a shortened transfer of `size` moves.
size_t shortened(size_t size) {
    if (size <= 1) {
        return size;
    }
    return action == a_short1 ? 1 : size / 2;
}

bool is_redirect_path(const char* path) {
    return file_mark != nullptr && path != nullptr && strstr(path, file_mark) != nullptr;
}

bool is_log_path(const char* path) {
    return log_mark != nullptr && path != nullptr && strstr(path, log_mark) != nullptr;
}

template <typename T> T fail(int error, T result) {
    errno = error;
    return result;
}

} // namespace

extern "C" {

int socket(int domain, int type, int protocol) {
    static auto next = real<int (*)(int, int, int)>("socket");
    if (count(k_socket) && action == a_errno) {
        return fail(fault_errno, -1);
    }
    return next(domain, type, protocol);
}

int setsockopt(int fd, int level, int name, const void* value, socklen_t length) {
    static auto next = real<int (*)(int, int, int, const void*, socklen_t)>("setsockopt");
    const bool hit = count(k_setsockopt);
    if (counters != nullptr) {
        const std::uint64_t n = counters->calls[k_setsockopt];
        if (n >= 1 && n <= 16) {
            counters->options[n - 1] = static_cast<std::int64_t>(level) << 16 | name;
        }
    }
    if (hit && action == a_errno) {
        return fail(fault_errno, -1);
    }
    return next(fd, level, name, value, length);
}

int connect(int fd, const sockaddr* address, socklen_t length) {
    static auto next = real<int (*)(int, const sockaddr*, socklen_t)>("connect");
    if (count(k_connect) && action == a_errno) {
        if (fault_errno == EINTR) {
            // The kernel goes on connecting after an interrupted connect: so do we.
            next(fd, address, length);
        }
        return fail(fault_errno, -1);
    }
    const int result = next(fd, address, length);
    if (fault_kind == k_storm && action == a_storm && count(k_storm)) {
        start_storm();
    }
    return result;
}

static ssize_t faulted_send(int fd, const void* data, size_t size, int flags, const sockaddr* to,
                            socklen_t to_length) {
    static auto next =
        real<ssize_t (*)(int, const void*, size_t, int, const sockaddr*, socklen_t)>("sendto");
    if (count(k_send, flags)) {
        if (action == a_errno) {
            return fail(fault_errno, -1L);
        }
        if (action == a_short1 || action == a_half) {
            size = shortened(size);
        }
    }
    return next(fd, data, size, flags, to, to_length);
}

ssize_t send(int fd, const void* data, size_t size, int flags) {
    return faulted_send(fd, data, size, flags, nullptr, 0);
}

ssize_t sendto(int fd, const void* data, size_t size, int flags, const sockaddr* to,
               socklen_t to_length) {
    return faulted_send(fd, data, size, flags, to, to_length);
}

static ssize_t faulted_recv(int fd, void* data, size_t size, int flags, sockaddr* from,
                            socklen_t* from_length) {
    static auto next =
        real<ssize_t (*)(int, void*, size_t, int, sockaddr*, socklen_t*)>("recvfrom");
    if (count(k_recv, flags)) {
        if (action == a_errno) {
            return fail(fault_errno, -1L);
        }
        if (action == a_eof) {
            return 0;
        }
        if (action == a_short1 || action == a_half) {
            // Short only when the kernel really holds more than one byte.
            ssize_t got = next(fd, data, size, flags | MSG_PEEK, from, from_length);
            if (got > 1) {
                size = shortened(static_cast<size_t>(got));
            }
        }
    }
    return next(fd, data, size, flags, from, from_length);
}

ssize_t recv(int fd, void* data, size_t size, int flags) {
    return faulted_recv(fd, data, size, flags, nullptr, nullptr);
}

ssize_t recvfrom(int fd, void* data, size_t size, int flags, sockaddr* from,
                 socklen_t* from_length) {
    return faulted_recv(fd, data, size, flags, from, from_length);
}

int poll(pollfd* fds, nfds_t count_of, int timeout) {
    static auto next = real<int (*)(pollfd*, nfds_t, int)>("poll");
    if (count(k_poll) && action == a_errno) {
        return fail(fault_errno, -1);
    }
    return next(fds, count_of, timeout);
}

int ppoll(pollfd* fds, nfds_t count_of, const timespec* timeout, const sigset_t* mask) {
    static auto next = real<int (*)(pollfd*, nfds_t, const timespec*, const sigset_t*)>("ppoll");
    if (count(k_poll) && action == a_errno) {
        return fail(fault_errno, -1);
    }
    return next(fds, count_of, timeout, mask);
}

int select(int n, fd_set* r, fd_set* w, fd_set* e, timeval* timeout) {
    static auto next = real<int (*)(int, fd_set*, fd_set*, fd_set*, timeval*)>("select");
    if (count(k_poll) && action == a_errno) {
        return fail(fault_errno, -1);
    }
    return next(n, r, w, e, timeout);
}

int pselect(int n, fd_set* r, fd_set* w, fd_set* e, const timespec* timeout, const sigset_t* mask) {
    static auto next =
        real<int (*)(int, fd_set*, fd_set*, fd_set*, const timespec*, const sigset_t*)>("pselect");
    if (count(k_poll) && action == a_errno) {
        return fail(fault_errno, -1);
    }
    return next(n, r, w, e, timeout, mask);
}

ssize_t read(int fd, void* data, size_t size) {
    static auto next = real<ssize_t (*)(int, void*, size_t)>("read");
    if (fd == 0 && count(k_read0)) {
        if (action == a_errno) {
            return fail(fault_errno, -1L);
        }
        if (action == a_short1 || action == a_half) {
            size = shortened(size);
        }
    }
    return next(fd, data, size);
}

ssize_t write(int fd, const void* data, size_t size) {
    static auto next = real<ssize_t (*)(int, const void*, size_t)>("write");
    const Kind kind = fd == 1           ? k_write1
                      : fd == 2         ? k_write2
                      : fd == log_fd ? k_log_write
                                        : k_file_write;
    const bool offers = offered_fd >= 0 && (fd == 1 || fd == 2);
    if ((fd == 1 || fd == 2 || (fd >= 0 && (fd == file_fd || fd == log_fd))) && count(kind)) {
        if (action == a_errno) {
            // What the client tries again (EINTR, EAGAIN) is recorded when it goes through.
            if (offers && fault_errno != EINTR && fault_errno != EAGAIN) {
                next(offered_fd, data, size);
            }
            return fail(fault_errno, -1L);
        }
        if (action == a_short1 || action == a_half) {
            size = shortened(size);
        }
    }
    const ssize_t written = next(fd, data, size);
    if (offers && written > 0) {
        const int error = errno;
        next(offered_fd, data, static_cast<size_t>(written));
        errno = error;
    }
    return written;
}

// Opening a redirect file: the plain calls and the C library's stream, by
// whichever name the program's library reaches them.
static int opened(const char* path, int fd) {
    if (fd >= 0 && is_redirect_path(path)) {
        file_fd = fd;
    }
    if (fd >= 0 && is_log_path(path)) {
        log_fd = fd;
    }
    return fd;
}

static bool open_faulted(const char* path) {
    if (is_log_path(path)) {
        return count(k_log_open) && action == a_errno;
    }
    return is_redirect_path(path) && count(k_file_open) && action == a_errno;
}

// One wrapper for the four ways to open: `params` and `types` are the call's
// parameter list and its types, `args` what is passed on (mode included).
#define OPEN_WRAPPER(name, params, types, args)                                                    \
    int name params {                                                                              \
        static auto next = real<int(*) types>(#name);                                              \
        va_list rest;                                                                              \
        va_start(rest, flags);                                                                     \
        const mode_t mode = (flags & (O_CREAT | O_TMPFILE)) ? va_arg(rest, mode_t) : 0;            \
        va_end(rest);                                                                              \
        if (open_faulted(path)) {                                                                  \
            return fail(fault_errno, -1);                                                          \
        }                                                                                          \
        return opened(path, next args);                                                            \
    }
#define PLAIN_OPEN(name)                                                                           \
    OPEN_WRAPPER(name, (const char* path, int flags, ...), (const char*, int, ...),                \
                 (path, flags, mode))
#define OPEN_AT(name)                                                                              \
    OPEN_WRAPPER(name, (int dir, const char* path, int flags, ...), (int, const char*, int, ...),  \
                 (dir, path, flags, mode))
PLAIN_OPEN(open)
PLAIN_OPEN(open64)
OPEN_AT(openat)
OPEN_AT(openat64)

#define FOPEN_WRAPPER(name)                                                                        \
    FILE* name(const char* path, const char* mode) {                                               \
        static auto next = real<FILE* (*)(const char*, const char*)>(#name);                       \
        if (open_faulted(path)) {                                                                  \
            return fail(fault_errno, static_cast<FILE*>(nullptr));                                 \
        }                                                                                          \
        FILE* file = next(path, mode);                                                             \
        if (file != nullptr) {                                                                     \
            opened(path, fileno(file));                                                            \
        }                                                                                          \
        return file;                                                                               \
    }
FOPEN_WRAPPER(fopen)
FOPEN_WRAPPER(fopen64)

// Linux releases the descriptor even when close reports an error.
int close(int fd) {
    static auto next = real<int (*)(int)>("close");
    if (fd >= 0 && fd == log_fd) {
        log_fd = -1;
        const bool hit = count(k_log_close) && action == a_errno;
        const int result = next(fd);
        return hit ? fail(fault_errno, -1) : result;
    }
    if (fd < 0 || fd != file_fd) {
        return next(fd);
    }
    file_fd = -1;
    const bool hit = count(k_file_close) && action == a_errno;
    const int result = next(fd);
    return hit ? fail(fault_errno, -1) : result;
}

int fclose(FILE* file) {
    static auto next = real<int (*)(FILE*)>("fclose");
    const int fd = file != nullptr ? fileno(file) : -1;
    if (fd < 0 || fd != file_fd) {
        return next(file);
    }
    file_fd = -1;
    const bool hit = count(k_file_close) && action == a_errno;
    const int result = next(file);
    return hit ? fail(fault_errno, EOF) : result;
}

// main, started by the C library's start-up: from its first line on, every
// allocation is the client's (the runtime's set-up before it is not).
using Main = int (*)(int, char**, char**);
static Main client_main = nullptr;

static int counted_main(int argc, char** argv, char** environment) {
    started = true;
    return client_main(argc, argv, environment);
}

int __libc_start_main(Main main, int argc, char** argv, void (*init)(), void (*fini)(),
                      void (*rtld_fini)(), void* stack_end) {
    static auto next =
        real<int (*)(Main, int, char**, void (*)(), void (*)(), void (*)(), void*)>(
            "__libc_start_main");
    client_main = main;
    return next(counted_main, argc, argv, init, fini, rtld_fini, stack_end);
}

// The client's own allocations, and the runtime's on its behalf. The line
// editor's library is left alone, and so is what the C library allocates for
// it: it uses a failed allocation unchecked, which no change to the client can
// help. So is the dynamic loader's work as it loads the line editor's module:
// a loader that runs out of memory half-way may hold its lock for good.
static bool from_line_editor() {
    inside = true;
    void* frames[32];
    const int depth = backtrace(frames, 32);
    bool editor = false;
    for (int i = 1; i < depth && !editor; ++i) {
        Dl_info info{};
        editor = dladdr(frames[i], &info) != 0 && info.dli_fname != nullptr &&
                 (strstr(info.dli_fname, "libedit") != nullptr ||
                  strstr(info.dli_fname, "libtinfo") != nullptr ||
                  strstr(info.dli_fname, "ld-linux") != nullptr);
    }
    inside = false;
    return editor;
}

void* malloc(size_t size) {
    if (started && !inside && !from_line_editor() && count(k_malloc) && action == a_errno) {
        return fail(ENOMEM, static_cast<void*>(nullptr));
    }
    return __libc_malloc(size);
}

} // extern "C"
