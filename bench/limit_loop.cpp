// The yardstick: the least work the protocol allows a relaying client. It sends
// a command, receives at most RECEIVE_SIZE bytes per call, hands them out in
// chunks of at most 500 bytes into a 1 MiB output buffer, and writes that
// buffer out when full and at the end of each reply (a chunk ending in "Ok";
// what follows it is kept for the next reply). Nothing else: no parsing, no
// prompt. With RECEIVE_SIZE 500 each receive is one chunk.
//
//   limit_loop PORT COMMANDS [FILE]   output to standard output, or into FILE
//                                     (opened afresh for each reply)
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#ifndef RECEIVE_SIZE
#define RECEIVE_SIZE 500
#endif

namespace {

constexpr std::size_t output_size = std::size_t{1} << 20;
constexpr std::size_t chunk_size = 500;
char output[output_size];
char receive_buffer[RECEIVE_SIZE];

bool write_all(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written <= 0) {
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s PORT COMMANDS [FILE]\n", argv[0]);
        return 2;
    }
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_port = htons(static_cast<unsigned short>(std::atoi(argv[1])));
    server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&server), sizeof server) != 0) {
        std::perror("connect");
        return 1;
    }
    const long commands = std::atol(argv[2]);
    const char* file = argc > 3 ? argv[3] : nullptr;

    std::size_t next = 0; // the unread part of the last receive: [next, held)
    std::size_t held = 0;
    for (long i = 0; i < commands; ++i) {
        if (::send(fd, "dump", 4, MSG_NOSIGNAL) != 4) {
            return 1;
        }
        const int out = file != nullptr ? ::open(file, O_WRONLY | O_CREAT | O_TRUNC, 0644) : 1;
        std::size_t used = 0;
        for (bool ended = false; !ended;) {
            if (next == held) {
                const ssize_t received = ::recv(fd, receive_buffer, RECEIVE_SIZE, 0);
                if (received <= 0) {
                    return 1;
                }
                next = 0;
                held = static_cast<std::size_t>(received);
            }
            const std::size_t size = held - next < chunk_size ? held - next : chunk_size;
            const char* chunk = receive_buffer + next;
            next += size;
            if (used + size > output_size) {
                write_all(out, output, used);
                used = 0;
            }
            __builtin_memcpy(output + used, chunk, size);
            used += size;
            ended = size >= 2 && chunk[size - 2] == 'O' && chunk[size - 1] == 'k';
        }
        write_all(out, output, used);
        if (file != nullptr) {
            ::close(out);
        }
    }
    return 0;
}
