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
    std::vector<std::string> choices; // when several match: last parts of names, sorted bytewise
};

// More matches than this are listed only when the user says so.
inline constexpr std::size_t listed_without_asking = 100;

// A unique match is inserted whole, with no space after it: a word is sent as completed,
// and a space after a file name would become part of it; a folder ends in '/', so Tab can
// go on into it. Several matches insert their common beginning and are listed too, so
// that what was inserted (a space, say) is seen among them. No match: both empty.
Completion complete(const std::string& before_cursor, const std::vector<std::string>& history,
                    const FolderLister& list_folder);

// `names` (in their order) listed down columns as `ls -C` does, in rows of at most
// `width` UTF-8 characters (80 when not known), each ending in a newline; a wider name
// has a row of its own.
std::string column_listing(const std::vector<std::string>& names, int width);

} // namespace cmdclient
