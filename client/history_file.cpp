#include "client/history_file.h"

#include "client/console_platform.h"

namespace cmdclient {

HistoryFile history_file() {
    if (const char* chosen = platform::environment("CMDCLIENT_HISTORY")) {
        return {chosen, false};
    }
    const char* state = platform::environment("XDG_STATE_HOME");
    if (state != nullptr && *state == '/') {
        return {std::string(state) + "/cmdclient/history", true};
    }
    const char* home = platform::environment("HOME");
    if (home != nullptr && *home != '\0') {
        return {std::string(home) + "/.local/state/cmdclient/history", true};
    }
    return {};
}

std::string folder_of(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

} // namespace cmdclient
