#include "client/history_file.h"

#include "client/platform/files.h"

#include <algorithm>

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

bool ignored_by_history(const std::string& patterns, const std::string& line) {
    std::size_t start = 0;
    while (start <= patterns.size()) {
        const auto end = std::min(patterns.find(':', start), patterns.size());
        if (end > start && platform::matches_wildcard(patterns.substr(start, end - start), line)) {
            return true;
        }
        start = end + 1;
    }
    return false;
}

std::vector<std::string> merge_history(std::vector<std::string> saved,
                                       const std::vector<std::string>& added, std::size_t kept) {
    for (const auto& line : added) {
        if (saved.empty() || saved.back() != line) {
            saved.push_back(line);
        }
    }
    if (saved.size() > kept) {
        saved.erase(saved.begin(), saved.end() - static_cast<std::ptrdiff_t>(kept));
    }
    return saved;
}

} // namespace cmdclient
