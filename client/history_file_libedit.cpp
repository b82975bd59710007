// The history file's format is libedit's own, so files saved by earlier releases read
// on: a first line of its own, then one line each, with spaces, tabs, backslashes and
// control characters written as escapes.
#include "client/history_file.h"

#include "client/platform/files.h"

#include <histedit.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

namespace cmdclient {

namespace {

constexpr std::string_view first_line = "_HiStOrY_V2_\n";

// One stored line with libedit's escapes undone: "\ooo" (octal), "\M-x" and "\M^x" (the
// high bit set), "\^x" (control), "\\" and the C escapes; anything else stays as written.
std::string unescaped(std::string_view text) {
    static constexpr std::string_view named = "\\ntrbavfsE", as = "\\\n\t\r\b\a\v\f \x1b";
    std::string line;
    std::size_t i = 0;
    const auto at = [&text, &i](std::size_t k) { return i + k < text.size() ? text[i + k] : '\0'; };
    const auto octal = [](char c) { return c >= '0' && c <= '7'; };
    while (i < text.size()) {
        if (text[i] != '\\') {
            line += text[i++];
            continue;
        }
        if (octal(at(1))) {
            int value = 0;
            std::size_t k = 1;
            for (; k <= 3 && octal(at(k)); ++k) {
                value = value * 8 + (at(k) - '0');
            }
            line += static_cast<char>(value);
            i += k;
            continue;
        }
        const bool high = at(1) == 'M' && (at(2) == '-' || at(2) == '^') && at(3) != '\0';
        const std::size_t k = high ? 2 : 1; // where '-' or '^' stands
        const int meta = high ? 0x80 : 0;
        if (high && at(k) == '-') {
            line += static_cast<char>(meta | static_cast<unsigned char>(at(k + 1)));
            i += k + 2;
            continue;
        }
        if (at(k) == '^' && at(k + 1) != '\0') {
            const char c = at(k + 1);
            line += static_cast<char>(meta | (c == '?' ? 0x7f : c & 0x1f));
            i += k + 2;
            continue;
        }
        const std::size_t found = named.find(at(1));
        if (found != std::string_view::npos) {
            line += as[found];
            i += 2;
        } else {
            line += text[i++]; // not an escape: as written
        }
    }
    return line;
}

// Reads all of `size` bytes at `offset` that are there into `text`.
bool read_fully(int fd, std::string& text, std::size_t size, long long offset) {
    text.resize(size);
    std::size_t got = 0;
    while (got < size) {
        const long count =
            platform::read_at(fd, &text[got], size - got, offset + static_cast<long long>(got));
        if (count < 0 && platform::interrupted(platform::last_error())) {
            continue;
        }
        if (count < 0) {
            return false;
        }
        if (count == 0) {
            break; // the file was shortened meanwhile
        }
        got += static_cast<std::size_t>(count);
    }
    text.resize(got);
    return true;
}

// The last history_kept lines in the last history_read_limit bytes of the open file `fd`;
// an empty file (as a fresh lock leaves it) has none. Anything that is not a history
// file fails, so that it is never overwritten.
HistoryResult read_lines(int fd, std::vector<std::string>& lines, std::string& reason) {
    lines.clear();
    const long long size = platform::file_size(fd);
    std::string text;
    if (size < 0 || !read_fully(fd, text, first_line.size(), 0)) {
        reason = platform::error_text(platform::last_error());
        return HistoryResult::failed;
    }
    if (text.empty()) {
        return HistoryResult::done;
    }
    if (text != first_line) {
        reason = "not a history file";
        return HistoryResult::failed;
    }
    const long long start = std::max(static_cast<long long>(first_line.size()),
                                     size - static_cast<long long>(history_read_limit));
    if (!read_fully(fd, text, static_cast<std::size_t>(std::max(0LL, size - start)), start)) {
        reason = platform::error_text(platform::last_error());
        return HistoryResult::failed;
    }
    std::size_t at = 0;
    if (start > static_cast<long long>(first_line.size())) {
        at = text.find('\n'); // the first line read is only the end of one
        at = at == std::string::npos ? text.size() : at + 1;
    }
    while (at < text.size()) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        lines.push_back(unescaped(std::string_view(text).substr(at, end - at)));
        at = end + 1;
    }
    lines = merge_history(std::move(lines), {}); // the last history_kept
    return HistoryResult::done;
}

// What opening the file found, when it is not a regular file.
HistoryResult refused(platform::FileType type, std::string& reason) {
    if (type == platform::FileType::regular || type == platform::FileType::unopened) {
        reason = platform::error_text(platform::last_error());
        return HistoryResult::failed;
    }
    reason = type == platform::FileType::null_device ? ""
             : type == platform::FileType::folder    ? platform::error_text(EISDIR)
                                                     : "not a regular file";
    return HistoryResult::unusable;
}

// Writes `lines` over what the open file `fd` holds, in libedit's format.
bool write_lines(int fd, const std::vector<std::string>& lines, std::string& reason) {
    const std::unique_ptr<History, void (*)(History*)> history(::history_init(), ::history_end);
    HistEvent event;
    ::history(history.get(), &event, H_SETSIZE, static_cast<int>(history_kept));
    for (const auto& line : lines) {
        ::history(history.get(), &event, H_ENTER, line.c_str());
    }
    const int copy = platform::write_afresh(fd);
    std::FILE* file = copy < 0 ? nullptr : ::fdopen(copy, "w");
    if (file == nullptr) {
        reason = platform::error_text(platform::last_error());
        if (copy >= 0) {
            platform::close_descriptor(copy);
        }
        return false;
    }
    errno = 0;
    const bool written = ::history(history.get(), &event, H_SAVE_FP, file) >= 0 &&
                         std::fflush(file) == 0 && std::ferror(file) == 0;
    const int error = errno != 0 ? errno : EIO;
    if (std::fclose(file) != 0 || !written) {
        reason = platform::error_text(!written ? error : platform::last_error());
        return false;
    }
    return true;
}

} // namespace

HistoryResult HistoryFile::load(std::vector<std::string>& lines, std::string& reason) const {
    lines.clear();
    platform::FileType type = platform::FileType::unopened;
    const int fd = platform::open_own_file(path.c_str(), false, type);
    if (fd < 0) {
        if (type == platform::FileType::unopened && platform::last_error() == ENOENT) {
            return HistoryResult::done; // no lines yet
        }
        return refused(type, reason);
    }
    const HistoryResult result = read_lines(fd, lines, reason);
    platform::close_descriptor(fd);
    return result;
}

HistoryResult HistoryFile::append(const std::vector<std::string>& added,
                                  std::string& reason) const {
    const auto slash = path.rfind('/');
    if (create_folder && slash != std::string::npos && slash > 0) {
        platform::make_private_folders(path.substr(0, slash).c_str());
    }
    platform::FileType type = platform::FileType::unopened;
    const int fd = platform::open_own_file(path.c_str(), true, type);
    if (fd < 0) {
        return refused(type, reason);
    }
    // Held from the read to the write: a run saving at the same moment waits.
    HistoryResult result = HistoryResult::done;
    switch (platform::lock_file(fd, history_lock_limit_ms)) {
    case platform::LockResult::taken: {
        std::vector<std::string> lines;
        result = read_lines(fd, lines, reason);
        if (result == HistoryResult::done &&
            !write_lines(fd, merge_history(std::move(lines), added), reason)) {
            result = HistoryResult::failed;
        }
        break;
    }
    case platform::LockResult::busy:
        reason = "still locked by another process after " + std::to_string(history_lock_limit_ms) +
                 " ms";
        result = HistoryResult::busy;
        break;
    case platform::LockResult::stopped:
        result = HistoryResult::stopped;
        break;
    case platform::LockResult::failed:
        reason = platform::error_text(platform::last_error());
        result = HistoryResult::failed;
        break;
    }
    platform::close_descriptor(fd); // and with it the lock
    return result;
}

} // namespace cmdclient
