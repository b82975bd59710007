// cmdclient-demo-server PORT: a small command server to try cmdclient against.
// Listens on 127.0.0.1 (port 0: the system chooses, and the port is printed).
//
// It serves every connection at once, each on a thread of its own, and all of
// them share one simulated machine, its radix included: commands run one at a
// time, so each sees the machine as the previous command left it, whichever
// client sent it. A client idle at its prompt holds nothing up; only running a
// command takes the machine's lock, never waiting for a client to send or receive.
//
// A command is whatever one receive brings: the client sends each command's
// bytes alone, with no terminator, and waits for the reply before the next.
//
// "terminate" stops the server: its client gets the whole reply ("Server
// stopping", "Ok"); then the server stops accepting, closes every other
// connection (a client waiting for a reply at that moment may get none; an idle
// one finds the connection closed when it next sends), waits for their threads
// and exits with status 0.
#include "demo/machine.h"
#include "demo/reply.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <list>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

namespace {

struct Connection {
    int fd = -1;
    std::thread thread;
    bool done = false; // set by its thread as it ends; guarded by Server::connections_mutex
};

// What the connection threads share with the main thread. Only the main thread
// adds, joins and closes connections, so a descriptor is never closed while a
// thread still uses it, nor shut down after its number has been reused.
struct Server {
    std::mutex machine_mutex;
    demo::Machine machine; // guarded by machine_mutex

    std::mutex connections_mutex;
    std::list<Connection> connections; // guarded by connections_mutex
    bool stop = false;                 // guarded by connections_mutex

    // A pipe whose bytes wake the main thread when a connection has ended or
    // "terminate" has been answered.
    int wake_read = -1;
    int wake_write = -1;
};

bool send_all(int fd, const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

// Answers commands on one connection until it closes, or "terminate" has been
// answered (on it or another one); then tells the main thread.
void serve(Server& server, Connection& connection) {
    char command[65536];
    bool terminated = false;
    for (;;) {
        const ssize_t received = ::recv(connection.fd, command, sizeof command, 0);
        if (received < 0 && errno == EINTR) {
            continue;
        }
        if (received <= 0) {
            break;
        }
        std::string reply;
        {
            const std::lock_guard<std::mutex> lock(server.machine_mutex);
            if (server.machine.terminated()) {
                break;
            }
            reply = demo::wire_reply(server.machine.execute(
                std::string_view(command, static_cast<std::size_t>(received))));
            terminated = server.machine.terminated();
        }
        if (!send_all(connection.fd, reply) || terminated) {
            break;
        }
    }
    {
        const std::lock_guard<std::mutex> lock(server.connections_mutex);
        connection.done = true;
        server.stop = server.stop || terminated;
    }
    // Non-blocking: a full pipe already wakes the main thread.
    [[maybe_unused]] const ssize_t ignored = ::write(server.wake_write, "x", 1);
}

// Joins and closes the connections that have ended; returns whether the server
// is to stop.
bool reap(Server& server) {
    std::list<Connection> ended;
    bool stop = false;
    {
        const std::lock_guard<std::mutex> lock(server.connections_mutex);
        for (auto it = server.connections.begin(); it != server.connections.end();) {
            const auto next = std::next(it);
            if (it->done) {
                ended.splice(ended.end(), server.connections, it);
            }
            it = next;
        }
        stop = server.stop;
    }
    for (Connection& connection : ended) {
        connection.thread.join();
        ::close(connection.fd);
    }
    return stop;
}

void start_connection(Server& server, int fd) {
    const std::lock_guard<std::mutex> lock(server.connections_mutex);
    Connection& connection = server.connections.emplace_back();
    connection.fd = fd;
    try {
        connection.thread = std::thread(serve, std::ref(server), std::ref(connection));
    } catch (const std::system_error& error) {
        std::fprintf(stderr, "cannot serve a connection: %s\n", error.what());
        server.connections.pop_back();
        ::close(fd);
    }
}

// Wakes every connection still open, waits for its thread and closes it.
void close_all(Server& server) {
    {
        const std::lock_guard<std::mutex> lock(server.connections_mutex);
        for (const Connection& connection : server.connections) {
            if (!connection.done) {
                ::shutdown(connection.fd, SHUT_RDWR);
            }
        }
    }
    // Only this thread changes the list, so it may walk it without the lock.
    for (Connection& connection : server.connections) {
        connection.thread.join();
        ::close(connection.fd);
    }
    server.connections.clear();
}

// Accepts connections until "terminate" has been answered. Returns the exit status.
int run(Server& server, int listener) {
    pollfd watched[2] = {{listener, POLLIN, 0}, {server.wake_read, POLLIN, 0}};
    for (;;) {
        if (::poll(watched, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            std::perror("poll");
            return 1;
        }
        if (watched[1].revents != 0) {
            char drained[256];
            while (::read(server.wake_read, drained, sizeof drained) > 0) {
            }
            if (reap(server)) {
                return 0;
            }
            watched[0].events = POLLIN; // a descriptor may have come free
        }
        if ((watched[0].revents & POLLIN) != 0) {
            const int fd = ::accept(listener, nullptr, nullptr);
            if (fd >= 0) {
                start_connection(server, fd);
            } else if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                // Out of descriptors or memory: leave the rest of the queue
                // waiting until a connection ends, unless none is open to end.
                std::perror("accept");
                const std::lock_guard<std::mutex> lock(server.connections_mutex);
                if (server.connections.empty()) {
                    return 1;
                }
                watched[0].events = 0;
            } else if (errno != EINTR && errno != ECONNABORTED && errno != EPROTO) {
                std::perror("accept");
                return 1;
            }
        }
    }
}

} // namespace

int main(int argc, char* argv[]) {
    char* end = nullptr;
    const long port = argc == 2 ? std::strtol(argv[1], &end, 10) : -1;
    if (argc != 2 || *end != '\0' || port < 0 || port > 65535) {
        std::fprintf(stderr, "usage: %s PORT   (0 lets the system choose)\n", argv[0]);
        return 2;
    }

    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    const int reuse = 1;
    ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<unsigned short>(port));
    socklen_t length = sizeof address;
    if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) ||
        ::listen(listener, SOMAXCONN) ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length)) {
        std::fprintf(stderr, "%s: cannot listen on 127.0.0.1 port %ld: %s\n", argv[0], port,
                     std::strerror(errno));
        return 1;
    }

    Server server;
    int wake[2];
    if (::pipe(wake) != 0 || ::fcntl(wake[0], F_SETFL, O_NONBLOCK) != 0 ||
        ::fcntl(wake[1], F_SETFL, O_NONBLOCK) != 0) {
        std::perror("pipe");
        return 1;
    }
    server.wake_read = wake[0];
    server.wake_write = wake[1];

    std::printf("listening on 127.0.0.1 port %u\n", ntohs(address.sin_port));
    std::fflush(stdout);

    const int status = run(server, listener);
    ::close(listener);
    close_all(server);
    ::close(wake[0]);
    ::close(wake[1]);
    return status;
}
