/* The yardstick for a one-shot run (cmdclient -q -c COMMAND PORT): the least
 * a C program does to connect to 127.0.0.1, send one command and write its
 * reply to standard output by the same rules: chunks of at most 500 bytes, a
 * chunk whose first byte is zero is empty, a chunk ending in "Ok" ends the
 * reply (the "Ok" is not shown), a chunk that is exactly "Syntax error" ends it
 * too, followed by a newline. Linked to the C library alone.
 *
 *   oneshot PORT COMMAND */
#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

static int write_all(const char* data, size_t size) {
    while (size > 0) {
        const ssize_t written = write(1, data, size);
        if (written <= 0) {
            return 0;
        }
        data += written;
        size -= (size_t)written;
    }
    return 1;
}

int main(int argc, char* argv[]) {
    if (argc != 3) {
        fputs("usage: oneshot PORT COMMAND\n", stderr);
        return 2;
    }
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    struct sockaddr_in server;
    memset(&server, 0, sizeof server);
    server.sin_family = AF_INET;
    server.sin_port = htons((unsigned short)atoi(argv[1]));
    server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, (struct sockaddr*)&server, sizeof server) != 0) {
        return 1;
    }
    const size_t length = strlen(argv[2]);
    if (send(fd, argv[2], length, MSG_NOSIGNAL) != (ssize_t)length) {
        return 1;
    }
    char chunk[500];
    for (;;) {
        const ssize_t received = recv(fd, chunk, sizeof chunk, 0);
        if (received <= 0) {
            return 1;
        }
        const size_t size = (size_t)received;
        if (chunk[0] == '\0') {
            continue;
        }
        if (size >= 2 && chunk[size - 2] == 'O' && chunk[size - 1] == 'k') {
            return write_all(chunk, size - 2) ? 0 : 1;
        }
        if (size == 12 && memcmp(chunk, "Syntax error", 12) == 0) {
            return write_all("Syntax error\n", 13) ? 0 : 1;
        }
        if (!write_all(chunk, size)) {
            return 1;
        }
    }
}
