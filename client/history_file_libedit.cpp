// The history file's format is libedit's own, so files written by earlier
// releases (which saved through libedit) read on.
#include "client/history_file.h"

#include "client/platform/files.h"

#include <histedit.h>

#include <cerrno>
#include <fstream>
#include <memory>

namespace cmdclient {

namespace {

struct HistoryDeleter {
    void operator()(History* history) const noexcept { ::history_end(history); }
};
using Lines = std::unique_ptr<History, HistoryDeleter>;

// Reads the file into a list of its own; a missing file is an empty list.
bool read_file(const std::string& path, std::vector<std::string>& lines, int& error) {
    lines.clear();
    const Lines history(::history_init());
    HistEvent event;
    ::history(history.get(), &event, H_SETSIZE, static_cast<int>(history_kept));
    errno = 0;
    if (::history(history.get(), &event, H_LOAD, path.c_str()) < 0) {
        // Missing, or empty as a fresh lock leaves it: no lines yet. Anything
        // else that is not a history file is left as it is, never overwritten.
        if (errno == ENOENT || (errno == 0 && std::ifstream(path).peek() == EOF)) {
            return true;
        }
        error = errno != 0 ? errno : EINVAL;
        return false;
    }
    // H_LAST is the oldest line; H_PREV walks towards the newest.
    for (int more = ::history(history.get(), &event, H_LAST); more >= 0;
         more = ::history(history.get(), &event, H_PREV)) {
        lines.emplace_back(event.str);
    }
    return true;
}

bool write_file(const std::string& path, const std::vector<std::string>& lines, int& error) {
    const Lines history(::history_init());
    HistEvent event;
    ::history(history.get(), &event, H_SETSIZE, static_cast<int>(history_kept));
    for (const auto& line : lines) {
        ::history(history.get(), &event, H_ENTER, line.c_str());
    }
    errno = 0;
    if (::history(history.get(), &event, H_SAVE, path.c_str()) < 0) {
        error = errno != 0 ? errno : EIO;
        return false;
    }
    return true;
}

} // namespace

bool HistoryStore::load(std::vector<std::string>& lines, int& error) const {
    return read_file(file_.path, lines, error);
}

bool HistoryStore::append(const std::vector<std::string>& added, int& error) const {
    if (file_.create_folder) {
        const std::string folder = folder_of(file_.path);
        if (!folder.empty()) {
            platform::make_private_folders(folder.c_str());
        }
    }
    // Held from the read to the write: a run saving at the same moment waits.
    const int lock = platform::lock_private_file(file_.path.c_str());
    if (lock < 0) {
        error = platform::last_error();
        return false;
    }
    std::vector<std::string> lines;
    const bool saved = read_file(file_.path, lines, error) &&
                       write_file(file_.path, merge_history(std::move(lines), added), error);
    platform::unlock_file(lock);
    return saved;
}

} // namespace cmdclient
