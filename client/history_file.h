#pragma once

#include <string>

namespace cmdclient {

// Where the line editor keeps its history: $CMDCLIENT_HISTORY when set (the
// empty text turns saving off: the result is then empty), else
// $XDG_STATE_HOME/cmdclient/history, else ~/.local/state/cmdclient/history.
// Empty when no place can be found.
std::string history_file_path();

} // namespace cmdclient
