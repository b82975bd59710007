#include "client/completion.h"

#include "client/command_grammar.h"

#include <algorithm>
#include <numeric>
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

// Characters of UTF-8 text: the bytes that do not continue one.
std::size_t shown_width(const std::string& text) {
    return static_cast<std::size_t>(
        std::count_if(text.begin(), text.end(), [](char byte) { return (byte & 0xC0) != 0x80; }));
}

// The names in the folder on `word`'s way that begin with its last part (`start`, set
// here), sorted; names starting with '.' only once that part starts with one.
std::vector<std::string> file_names_starting(const std::string& word, std::string& start,
                                             const FolderLister& list_folder) {
    const auto slash = word.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : word.substr(0, slash + 1);
    start = word.substr(folder.size());
    std::vector<std::string> names;
    for (const auto& name : list_folder(folder)) {
        if (name.compare(0, start.size(), start) == 0 && (name[0] != '.' || !start.empty())) {
            names.push_back(name);
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
            if (word.size() > start.size() && word.substr(0, start.size()) == start) {
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
    std::string word; // what the matches complete: a word, or a file name's last part
    std::vector<std::string> matches;
    const auto target = grammar::target_start(before_cursor);
    if (target != std::string::npos) {
        matches = file_names_starting(before_cursor.substr(target), word, list_folder);
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
    if (matches.size() > 1) {
        result.choices = std::move(matches);
    }
    return result;
}

std::string column_listing(const std::vector<std::string>& names, int width) {
    constexpr std::size_t gap = 2; // spaces between columns
    const std::size_t room = width > 0 ? static_cast<std::size_t>(width) : 80;
    const std::size_t count = names.size();
    std::vector<std::size_t> widths(count);
    std::transform(names.begin(), names.end(), widths.begin(), shown_width);
    // The most columns (so the fewest rows) that fit, each as wide as its widest name and
    // at least one character and a gap; one column, a name a row, when no more fit.
    std::size_t rows = count;
    std::vector<std::size_t> column_widths;
    for (std::size_t columns = std::min(count, (room + gap) / (1 + gap)); columns > 1; --columns) {
        const std::size_t tried = (count + columns - 1) / columns;
        column_widths.assign((count + tried - 1) / tried, 0);
        for (std::size_t i = 0; i < count; ++i) {
            column_widths[i / tried] = std::max(column_widths[i / tried], widths[i]);
        }
        if (std::accumulate(column_widths.begin(), column_widths.end(),
                            gap * (column_widths.size() - 1)) <= room) {
            rows = tried;
            break;
        }
    }
    std::string text;
    for (std::size_t row = 0; row < rows; ++row) {
        for (std::size_t i = row; i < count; i += rows) {
            text += names[i];
            if (i + rows < count) { // padded up to the next column (so not with one)
                text.append(column_widths[i / rows] + gap - widths[i], ' ');
            }
        }
        text += '\n';
    }
    return text;
}

} // namespace cmdclient
