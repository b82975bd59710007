#include "client/history_file.h"

#include "client/console_platform.h"

namespace cmdclient {

std::string history_file_path() {
    if (const char* chosen = platform::environment("CMDCLIENT_HISTORY")) {
        return chosen;
    }
    const char* state = platform::environment("XDG_STATE_HOME");
    if (state != nullptr && *state == '/') {
        return std::string(state) + "/cmdclient/history";
    }
    const char* home = platform::environment("HOME");
    if (home != nullptr && *home != '\0') {
        return std::string(home) + "/.local/state/cmdclient/history";
    }
    return {};
}

} // namespace cmdclient
