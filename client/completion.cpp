#include "client/completion.h"

#include "client/command_grammar.h"

#include <algorithm>
#include <set>
#include <string_view>

namespace cmdclient {

namespace {

// The longest common beginning of all `words` (at least one).
std::string common_prefix(const std::vector<std::string>& words) {
    std::string prefix = words.front();
    for (const auto& word : words) {
        const auto differ = std::mismatch(prefix.begin(), prefix.end(), word.begin(), word.end());
        prefix.erase(differ.first, prefix.end());
    }
    return prefix;
}

bool starts_with(std::string_view text, std::string_view start) {
    return text.substr(0, start.size()) == start;
}

// File names that begin with `word`, which may name folders on the way. Names
// starting with '.' are offered only once the word's last part starts with one.
std::vector<std::string> file_names_starting(const std::string& word,
                                             const FolderLister& list_folder) {
    const auto slash = word.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : word.substr(0, slash + 1);
    const std::string start = word.substr(folder.size());
    std::vector<std::string> names;
    for (const auto& name : list_folder(folder)) {
        if (starts_with(name, start) && (name[0] != '.' || !start.empty())) {
            names.push_back(folder + name);
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Words of the commands in `history` (not their targets) longer than `start`
// and beginning with it, each once, in order.
std::vector<std::string> history_words_starting(const std::string& start,
                                                const std::vector<std::string>& history) {
    std::set<std::string> words;
    for (const auto& line : history) {
        const std::string_view command = grammar::command_part(line);
        std::size_t at = 0;
        while ((at = command.find_first_not_of(" \t", at)) != std::string_view::npos) {
            const auto end = std::min(command.find_first_of(" \t", at), command.size());
            const std::string_view word = command.substr(at, end - at);
            if (word.size() > start.size() && starts_with(word, start)) {
                words.emplace(word);
            }
            at = end;
        }
    }
    return {words.begin(), words.end()};
}

} // namespace

Completion complete(const std::string& before_cursor, const std::vector<std::string>& history,
                    const FolderLister& list_folder) {
    std::string word;
    std::vector<std::string> matches;
    const auto target = grammar::target_start(before_cursor);
    if (target != std::string::npos) {
        word = before_cursor.substr(target);
        matches = file_names_starting(word, list_folder);
    } else {
        const auto space = before_cursor.find_last_of(' ');
        word = space == std::string::npos ? before_cursor : before_cursor.substr(space + 1);
        matches = history_words_starting(word, history);
    }
    Completion result;
    if (matches.empty()) {
        return result;
    }
    result.insert = common_prefix(matches).substr(word.size());
    if (result.insert.empty()) {
        result.choices = std::move(matches);
    }
    return result;
}

} // namespace cmdclient
