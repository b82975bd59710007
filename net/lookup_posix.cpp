#include "net/lookup.h"

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <netdb.h>
#include <sys/wait.h>

namespace net {

namespace {

// What the lookup process sends back through its pipe: the resolver's result
// code and errno, then each address as its length and its bytes.
struct Header {
    std::int32_t code;
    std::int32_t system_error;
};

// Writes all `size` bytes at `data` to `fd`; false if that cannot be done.
bool write_all(int fd, const char* data, std::size_t size) noexcept {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

// The lookup process: asks the resolver and sends the answer to `fd`. It
// never returns; _exit leaves the client's buffered output to the client.
[[noreturn]] void look_up_and_send(const char* host, const char* service, bool numeric_only,
                                   int fd) noexcept {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV | (numeric_only ? AI_NUMERICHOST : 0);
    addrinfo* found = nullptr;
    Header header{::getaddrinfo(host, service, &hints, &found), 0};
    header.system_error = header.code == EAI_SYSTEM ? errno : 0;
    bool sent = write_all(fd, reinterpret_cast<const char*>(&header), sizeof header);
    for (const addrinfo* each = header.code == 0 ? found : nullptr; sent && each != nullptr;
         each = each->ai_next) {
        if (each->ai_family != AF_INET && each->ai_family != AF_INET6) {
            continue;
        }
        const auto size = static_cast<std::int32_t>(each->ai_addrlen);
        sent = write_all(fd, reinterpret_cast<const char*>(&size), sizeof size) &&
               write_all(fd, reinterpret_cast<const char*>(each->ai_addr), each->ai_addrlen);
    }
    ::_exit(sent ? 0 : 1);
}

// The answer as the lookup process sent it.
Lookup read_answer(const std::string& answer) {
    Lookup result;
    Header header{};
    if (answer.size() < sizeof header) {
        result.reason = "the lookup ended without an answer";
        return result;
    }
    std::memcpy(&header, answer.data(), sizeof header);
    if (header.code != 0) {
        result.status = header.code == EAI_AGAIN ? Lookup::Status::again : Lookup::Status::failed;
        result.reason = header.code == EAI_SYSTEM ? std::strerror(header.system_error)
                                                  : ::gai_strerror(header.code);
        return result;
    }
    std::size_t at = sizeof header;
    std::int32_t size = 0;
    while (answer.size() - at >= sizeof size) {
        std::memcpy(&size, answer.data() + at, sizeof size);
        at += sizeof size;
        if (size <= 0 || answer.size() - at < static_cast<std::size_t>(size)) {
            break;
        }
        if (const auto endpoint =
                Endpoint::of(reinterpret_cast<const sockaddr*>(answer.data() + at),
                             static_cast<address_length>(size))) {
            result.addresses.push_back(*endpoint);
        }
        at += static_cast<std::size_t>(size);
    }
    if (result.addresses.empty()) {
        result.reason = ::gai_strerror(EAI_NONAME);
        return result;
    }
    result.status = Lookup::Status::found;
    return result;
}

// Ends the lookup process and collects it.
void end_process(pid_t process) noexcept {
    ::kill(process, SIGKILL);
    while (::waitpid(process, nullptr, 0) < 0 && errno == EINTR) {
    }
}

} // namespace

bool lookup_available() noexcept {
    return true;
}

bool is_other_ipv4_form(const std::string& host) noexcept {
    in_addr address{};
    return ::inet_aton(host.c_str(), &address) == 1 &&
           parse_dotted_quad(host.c_str(), nullptr) == 0;
}

// The resolver runs in a process of its own, so that the client's one wait
// watches its pipe and can leave it behind; the client itself stays a single
// thread, and no signal has to cut the resolver short.
Lookup look_up(const std::string& host, int port, bool numeric_only, Deadline deadline) {
    Lookup result;
    const std::string service = std::to_string(port & 0xFFFF);
    int pipe_ends[2];
    if (::pipe2(pipe_ends, O_CLOEXEC) != 0) {
        result.reason = std::strerror(errno);
        return result;
    }
    const pid_t process = ::fork();
    if (process < 0) {
        result.reason = std::strerror(errno);
        ::close(pipe_ends[0]);
        ::close(pipe_ends[1]);
        return result;
    }
    if (process == 0) {
        // The lookup process holds none of the client's standard streams, so
        // that a reader of them sees their end when the client's run ends.
        const int nothing = ::open("/dev/null", O_RDWR | O_CLOEXEC);
        for (int stream = 0; stream < 3 && nothing >= 0; ++stream) {
            ::dup2(nothing, stream);
        }
        ::close(pipe_ends[0]);
        look_up_and_send(host.c_str(), service.c_str(), numeric_only, pipe_ends[1]);
    }
    ::close(pipe_ends[1]);
    std::string answer;
    WaitResult waited;
    while ((waited = wait_for(waitable_descriptor(pipe_ends[0]), Direction::readable, deadline)) ==
           WaitResult::ready) {
        char buffer[4096];
        const ssize_t got = ::read(pipe_ends[0], buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        answer.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(pipe_ends[0]);
    end_process(process);
    if (waited == WaitResult::ready) {
        return read_answer(answer);
    }
    result.status = waited == WaitResult::stop_signal ? Lookup::Status::stopped
                    : waited == WaitResult::timed_out ? Lookup::Status::timed_out
                                                      : Lookup::Status::failed;
    result.reason = std::strerror(errno);
    return result;
}

} // namespace net
