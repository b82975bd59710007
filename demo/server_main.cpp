// cmdclient-demo-server PORT: a small command server to try cmdclient against.
// Listens on 127.0.0.1 (port 0: the system chooses, and the port is printed),
// serves one connection at a time, and stops after "terminate".
#include "demo/machine.h"
#include "demo/reply.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

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

// Answers commands on one connection until it closes or "terminate" arrives.
// A command is whatever one receive brings: the client sends one at a time.
void serve(int connection, demo::Machine& machine) {
    char command[65536];
    for (;;) {
        const ssize_t received = ::recv(connection, command, sizeof command, 0);
        if (received < 0 && errno == EINTR) {
            continue;
        }
        if (received <= 0) {
            return;
        }
        const std::string reply = demo::wire_reply(
            machine.execute(std::string_view(command, static_cast<std::size_t>(received))));
        if (!send_all(connection, reply) || machine.terminated()) {
            return;
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
        ::listen(listener, 4) ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length)) {
        std::fprintf(stderr, "%s: cannot listen on 127.0.0.1 port %ld: %s\n", argv[0], port,
                     std::strerror(errno));
        return 1;
    }
    std::printf("listening on 127.0.0.1 port %u\n", ntohs(address.sin_port));
    std::fflush(stdout);

    demo::Machine machine;
    while (!machine.terminated()) {
        const int connection = ::accept(listener, nullptr, nullptr);
        if (connection < 0) {
            if (errno == EINTR) {
                continue;
            }
            std::perror("accept");
            return 1;
        }
        serve(connection, machine);
        ::close(connection);
    }
    ::close(listener);
    return 0;
}
