// A fast fake command server for benchmarks. It listens on 127.0.0.1 (port 0
// lets the system choose; the port is printed on standard output), serves one
// connection after another, and answers every command either with just "Ok"
// (ping) or with SIZE bytes of printable text ending in "Ok" (bulk SIZE).
//
// The body never contains an 'O' or a zero byte, and the closing "Ok" is sent
// on its own once the client has read the whole body, so that it can never be
// split between two receives (which would rightly leave the client waiting).
#include <arpa/inet.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/body.h"

namespace {

bool send_all(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t sent = ::send(fd, data, size, MSG_NOSIGNAL);
        if (sent <= 0) {
            return false;
        }
        data += sent;
        size -= static_cast<std::size_t>(sent);
    }
    return true;
}

// An IPv4 socket address as /proc/net/tcp prints it: the address's four bytes
// (network order) as one 32-bit number in this machine's byte order, then the
// port, both in hex. Same rule as _table_address in tests/e2e/harness.py.
std::string table_address(const sockaddr_in& address) {
    char text[16];
    std::snprintf(text, sizeof text, "%08X:%04X", static_cast<unsigned>(address.sin_addr.s_addr),
                  static_cast<unsigned>(ntohs(address.sin_port)));
    return text;
}

// Bytes the client has received but not yet read, from the kernel's table of
// TCP sockets (the client's side: its address local, ours remote). -1 if not found.
long client_unread(const std::string& client, const std::string& server) {
    std::ifstream table("/proc/net/tcp");
    std::string line;
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state, queues;
        fields >> slot >> local >> remote >> state >> queues;
        if (local == client && remote == server) {
            return std::strtol(queues.substr(queues.find(':') + 1).c_str(), nullptr, 16);
        }
    }
    return -1;
}

// Waits until everything sent has left our socket and the client has read it.
// False when the client's socket cannot be found (it has gone, or the table
// cannot be read): then the closing "Ok" could not be kept apart, so give up.
bool wait_until_drained(int fd, const std::string& client, const std::string& server) {
    for (;;) {
        int unsent = 0;
        ::ioctl(fd, SIOCOUTQ, &unsent);
        if (unsent == 0) {
            const long unread = client_unread(client, server);
            if (unread < 0) {
                std::fprintf(stderr, "bench_server: connection %s -> %s not in /proc/net/tcp\n",
                             client.c_str(), server.c_str());
                return false;
            }
            if (unread == 0) {
                return true;
            }
        }
        std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
}

void serve(int fd, std::size_t reply_size) {
    sockaddr_in peer{};
    sockaddr_in self{};
    socklen_t length = sizeof peer;
    ::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length);
    length = sizeof self;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&self), &length);
    const std::string client = table_address(peer);
    const std::string server = table_address(self);

    const std::size_t body_size = reply_size >= 2 ? reply_size - 2 : 0;
    const std::size_t block_size = std::min<std::size_t>(body_size, 4 << 20);
    std::vector<char> block(block_size);
    bench::fill_body(block.data(), block.size(), 0);

    char command[65536];
    while (::recv(fd, command, sizeof command, 0) > 0) {
        if (body_size > 0) {
            for (std::size_t sent = 0; sent < body_size;) {
                const std::size_t part = std::min(block_size, body_size - sent);
                // The pattern repeats with a period that divides the block size.
                if (!send_all(fd, block.data(), part)) {
                    return;
                }
                sent += part;
            }
            if (!wait_until_drained(fd, client, server)) {
                return;
            }
        }
        if (!send_all(fd, "Ok", 2)) {
            return;
        }
    }
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s PORT ping | PORT bulk SIZE\n", argv[0]);
        return 2;
    }
    const int port = std::atoi(argv[1]);
    const std::string mode = argv[2];
    std::size_t reply_size = 2;
    if (mode == "bulk" && argc > 3) {
        reply_size = std::strtoull(argv[3], nullptr, 10);
    } else if (mode != "ping") {
        std::fprintf(stderr, "unknown mode %s\n", mode.c_str());
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
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener, 8) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        std::perror("bench_server");
        return 1;
    }
    std::printf("%u\n", static_cast<unsigned>(ntohs(address.sin_port)));
    std::fflush(stdout);

    for (;;) {
        const int connection = ::accept(listener, nullptr, nullptr);
        if (connection < 0) {
            continue;
        }
        serve(connection, reply_size);
        ::close(connection);
    }
}
