// The history of lines typed at the terminal: where its file is, and how this
// run's lines join those that other runs, perhaps still going, have saved.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace cmdclient {

// Whether `line` (whole) matches one of `patterns`: shell wildcards separated by ':'
// ($CMDCLIENT_HISTIGNORE), empty ones skipped. Such a line is sent but kept out of the
// history, file and session alike, so that secrets typed at the prompt are not stored.
bool ignored_by_history(const std::string& patterns, const std::string& line);

// How many lines the file keeps: the latest.
inline constexpr std::size_t history_kept = 1000;

// `saved` (the file's lines, oldest first) followed by `added`, except a line
// that repeats the one before it, cut to the last `kept`.
std::vector<std::string> merge_history(std::vector<std::string> saved,
                                       const std::vector<std::string>& added,
                                       std::size_t kept = history_kept);

// At most this much of the file's end is read: a history is never worth a run's memory.
inline constexpr std::size_t history_read_limit = 4 << 20;
// How long a save waits for another run that holds the file's lock.
inline constexpr int history_lock_limit_ms = 500;

// What a load or a save of the history file came to.
enum class HistoryResult {
    done,
    unusable, // not a regular file: no history there (`reason` empty: the null device)
    failed,   // `reason` says why
    busy,     // another run held the lock too long: the lines were not added
    stopped,  // a stop signal came while waiting for the lock
};

// Where the line editor keeps its history: $CMDCLIENT_HISTORY when set (empty: no saving,
// and no `path`), else $XDG_STATE_HOME/cmdclient/history, else ~/.local/state/cmdclient/history,
// whose folder the client creates (`create_folder`). Empty when no place is known. Every
// save reads the file afresh under a lock and adds this run's lines, so runs side by side
// never drop each other's lines. Only a regular file is read or written; opening never waits.
struct HistoryFile {
    std::string path;
    bool create_folder = false;

    // The lines in the file's last history_read_limit bytes, oldest first (none if missing).
    HistoryResult load(std::vector<std::string>& lines, std::string& reason) const;
    // Adds `added` to the file (made for its owner alone, its folder too if `create_folder`).
    HistoryResult append(const std::vector<std::string>& added, std::string& reason) const;
};

HistoryFile history_file();

} // namespace cmdclient
