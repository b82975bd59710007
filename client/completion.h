// What Tab does with the text before the cursor, as pure functions: after a
// '>' it completes a file name, before it a word of an earlier line.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace cmdclient {

// The entries of a folder ("" for the current one), folders with a '/' after
// their name (as platform::folder_entries gives them).
using FolderLister = std::function<std::vector<std::string>(const std::string& folder)>;

struct Completion {
    std::string insert;               // typed for the user at the cursor
    std::vector<std::string> choices; // listed when several match: last
                                      // parts of names, sorted bytewise
};

// A unique match is inserted whole, with no space after it: a word is sent
// exactly as completed, and a space after a file name would become part of the
// name. A folder ends in '/', so Tab can go on into it. Several matches insert
// their common beginning and are listed too, so that what was inserted (a
// space, say) is seen among the choices. Nothing (both empty) when nothing
// matches.
// More matches than this are listed only when the user says so.
inline constexpr std::size_t listed_without_asking = 100;

Completion complete(const std::string& before_cursor, const std::vector<std::string>& history,
                    const FolderLister& list_folder);

// The text that lists `names` (in their order) down columns, as `ls -C` does,
// in rows no wider than `width` characters (80 when not known), each row ending
// in a newline. A name wider than that has a row of its own. Widths count
// UTF-8 characters, not bytes.
std::string column_listing(const std::vector<std::string>& names, int width);

} // namespace cmdclient
