// Files and descriptors on Windows.
#include "client/platform/files.h"

#include <cerrno>
#include <string>

#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

namespace cmdclient::platform {

long write_some(int fd, const char* data, std::size_t size) noexcept {
    return ::_write(fd, data, static_cast<unsigned>(size));
}

long read_some(int fd, char* data, std::size_t size) noexcept {
    return ::_read(fd, data, static_cast<unsigned>(size));
}

// Windows' console and file writes block by themselves, and Ctrl-C does not
// cut them short: there is nothing to keep from waiting.
OutputKind output_kind(int) noexcept {
    return OutputKind::never_waits;
}

long write_without_waiting(int fd, OutputKind, const char* data, std::size_t size,
                           bool) noexcept {
    return write_some(fd, data, size);
}

int open_reply_file(const char* name) noexcept {
    return ::_open(name, _O_WRONLY | _O_CREAT | _O_TRUNC | _O_TEXT, _S_IREAD | _S_IWRITE);
}

int close_descriptor(int fd) noexcept {
    return ::_close(fd);
}

void open_missing_standard_descriptors() noexcept {}

bool make_private_folders(const char* path) noexcept {
    std::string partial;
    for (const char* c = path; *c != '\0'; ++c) {
        partial += *c;
        if ((c[1] == '/' || c[1] == '\\' || c[1] == '\0') && partial.size() > 2) {
            ::_mkdir(partial.c_str());
        }
    }
    return true;
}

bool make_private_file(const char*) noexcept {
    return true;
}

int lock_private_file(const char*) noexcept {
    errno = ENOSYS;
    return -1;
}

void unlock_file(int) noexcept {}

// "~" means nothing to Windows' own programs: names are taken as written.
std::string expand_home(const std::string& name) {
    return name;
}

bool matches_wildcard(const std::string&, const std::string&) noexcept {
    return false;
}

std::vector<std::string> folder_entries(const std::string&) {
    return {};
}

} // namespace cmdclient::platform
