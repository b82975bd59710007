#include "client/exchange.h"

#include "client/console.h"

#include <cerrno>
#include <cstring>
#include <iostream>

namespace cmdclient {

namespace {

constexpr std::size_t file_buffer_size = std::size_t{256} << 10;
char file_buffer[file_buffer_size];

void report_redirect_failure(const char* what, const std::string& target, int error) {
    std::cerr << "cmdclient: " << what << " '" << target << "': " << std::strerror(error)
              << std::endl;
}

// Opens the redirect file for one reply, replacing its contents. A stream left
// failed by an earlier redirect starts clear. Returns false, after reporting, if
// the file cannot be opened; the reply's text then goes nowhere.
bool open_redirect(std::ofstream& file, const std::string& target) {
    file.clear();
    errno = 0;
    file.open(target, std::ios::out | std::ios::trunc);
    if (!file.is_open()) {
        report_redirect_failure("cannot open reply file", target, errno);
        return false;
    }
    return true;
}

// Closes the redirect file, reporting a write that failed on the way (a full
// disk, say) or on the final flush.
void close_redirect(std::ofstream& file, const std::string& target) {
    // A write that failed left the stream failed and errno as that write set it.
    const bool write_failed = file.fail();
    const int write_error = errno;
    file.close();
    if (write_failed || file.fail()) {
        report_redirect_failure("cannot write reply file", target,
                                write_failed ? write_error : errno);
    }
}

} // namespace

void use_large_buffer(std::ofstream& file) {
    file.rdbuf()->pubsetbuf(file_buffer, file_buffer_size);
}

ReplyEnd exchange(net::ClientSocket& socket, std::ofstream& file, const std::string& command,
                  const std::string& target, std::string& reply) {
    try {
        socket.write(command);
    } catch (const net::SocketException&) {
        // The server may still answer what it received; the reply decides.
    }

    const bool to_console = target == console_target;
    const bool file_open = !to_console && open_redirect(file, target);
    static const bool console_shows_each_chunk = console_is_terminal();

    reply.clear();
    std::ostream& destination = to_console ? std::cout : static_cast<std::ostream&>(file);
    const ReplyEnd end = relay_reply([&socket](std::string& chunk) { socket.read(chunk); }, reply,
                                     destination, std::cout, console_shows_each_chunk);
    if (file_open) {
        close_redirect(file, target);
    }
    return end;
}

} // namespace cmdclient
