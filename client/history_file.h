#pragma once

#include <string>

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

// The folder part of a path ("" when it has none).
std::string folder_of(const std::string& path);

} // namespace cmdclient
