// The history of lines typed at the terminal: where its file is, and how this
// run's lines join those that other runs, perhaps still going, have saved.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace cmdclient {

// Where the line editor keeps its history: $CMDCLIENT_HISTORY when set (the
// empty text turns saving off: `path` is then empty), else
// $XDG_STATE_HOME/cmdclient/history, else ~/.local/state/cmdclient/history,
// whose folder the client creates (`create_folder`). Empty when no place is known.
struct HistoryFile {
    std::string path;
    bool create_folder = false;
};

HistoryFile history_file();

// Whether `line` (whole, as typed) matches one of `patterns`: shell wildcard
// patterns separated by ':' ($CMDCLIENT_HISTIGNORE), empty ones skipped. Such a
// line is sent as usual but kept out of the history, in the file and in the
// session alike, so that secrets typed at the prompt are not stored.
bool ignored_by_history(const std::string& patterns, const std::string& line);

// How many lines the file keeps: the latest.
inline constexpr std::size_t history_kept = 1000;

// `saved` (the file's lines, oldest first) followed by `added`, except a line
// that repeats the one before it, cut to the last `kept`.
std::vector<std::string> merge_history(std::vector<std::string> saved,
                                       const std::vector<std::string>& added,
                                       std::size_t kept = history_kept);

// At most this much of the end of the file is read: a history is a
// convenience, never worth a run's memory.
inline constexpr std::size_t history_read_limit = 4 << 20;
// How long a save waits for another run that holds the file's lock.
inline constexpr int history_lock_limit_ms = 500;

// What a load or a save of the history file came to.
enum class HistoryResult {
    done,
    unusable, // not a regular file: this run keeps no history there (`reason`
              // is empty for the null device, which means no history)
    failed,   // `reason` says why
    busy,     // another run held the lock too long: the lines were not added
    stopped,  // a stop signal came while waiting for the lock
};

// The history file itself, in the line editor's format. Every save reads the
// file afresh under a lock and adds this run's new lines to what is there, so
// runs side by side never drop each other's lines. Only a regular file is
// read or written, never waited on in opening.
class HistoryStore {
  public:
    explicit HistoryStore(HistoryFile file) : file_(std::move(file)) {}

    const std::string& path() const noexcept { return file_.path; }

    // The lines in the file (of its last history_read_limit bytes), oldest
    // first; a missing file has none.
    HistoryResult load(std::vector<std::string>& lines, std::string& reason) const;

    // Adds `added` to the file (created for its owner alone, its folder too
    // when the place is the default one).
    HistoryResult append(const std::vector<std::string>& added, std::string& reason) const;

  private:
    HistoryFile file_;
};

} // namespace cmdclient
