#include "client/completion.h"

#include <gtest/gtest.h>

#include <map>
#include <ostream>
#include <string>
#include <vector>

namespace {

struct TabCase {
    const char* before_cursor;
    std::string insert;
    std::vector<std::string> choices;
};

void PrintTo(const TabCase& c, std::ostream* out) {
    *out << '"' << c.before_cursor << '"';
}

// A folder tree in memory: "" is the current folder.
const std::map<std::string, std::vector<std::string>> folders{
    {"", {"dumps/", "dump.txt", ".hidden", "regs.txt"}},
    {"dumps/", {"registers.txt", "ram.bin", ".old"}},
    {"/abs/", {"file"}},
    {"sp/", {"my dump.txt", "my other.txt"}},
};

std::vector<std::string> list(const std::string& folder) {
    const auto found = folders.find(folder);
    return found == folders.end() ? std::vector<std::string>{} : found->second;
}

const std::vector<std::string> history{"quit", "terminate", "mem 0 8 > mem.txt", "radix\t16",
                                       "regs"};

class TabCompletion : public testing::TestWithParam<TabCase> {};

TEST_P(TabCompletion, InsertsOrListsWhatMatches) {
    const auto found = cmdclient::complete(GetParam().before_cursor, history, list);
    EXPECT_EQ(found.insert, GetParam().insert);
    EXPECT_EQ(found.choices, GetParam().choices);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, TabCompletion,
    testing::Values(
        // Words of earlier commands, never with a space after them.
        TabCase{"qu", "it", {}}, TabCase{"ter", "minate", {}}, TabCase{"poke ra", "dix", {}},
        TabCase{"r", "", {"radix", "regs"}}, TabCase{"re", "gs", {}},
        TabCase{"regs", "", {}},  // nothing longer than the word
        TabCase{"mem.t", "", {}}, // targets are not words
        TabCase{"1", "6", {}},    // a tab separates words too
        TabCase{"x", "", {}},
        // File names after the first '>', the spaces after it skipped.
        // Several: their common part is inserted and they are listed.
        TabCase{"regs > du", "mp", {"dump.txt", "dumps/"}},
        TabCase{"regs >du", "mp", {"dump.txt", "dumps/"}},
        TabCase{"regs > sp/my", " ", {"my dump.txt", "my other.txt"}},
        TabCase{"regs > dump", "", {"dump.txt", "dumps/"}},
        TabCase{"regs > dumps/re", "gisters.txt", {}},
        TabCase{"regs > dumps/r", "", {"ram.bin", "registers.txt"}}, // listed by last part
        TabCase{"regs > dumps/", "r", {"ram.bin", "registers.txt"}}, // hidden names are left out...
        TabCase{"regs > dumps/.", "old", {}},                        // ...unless asked for
        TabCase{"regs > /abs/f", "ile", {}}, TabCase{"regs > nowhere/x", "", {}},
        TabCase{"a > b > dum", "", {}})); // everything after the first '>' is the name

struct ListingCase {
    const char* name;
    std::vector<std::string> names;
    int width;
    std::string listing;
};

void PrintTo(const ListingCase& c, std::ostream* out) {
    *out << c.name;
}

class ColumnListing : public testing::TestWithParam<ListingCase> {};

TEST_P(ColumnListing, FillsColumnsDownToTheWidth) {
    EXPECT_EQ(cmdclient::column_listing(GetParam().names, GetParam().width), GetParam().listing);
}

const std::string forty(40, 'a');
const std::string thirty_eight(38, 'b');

INSTANTIATE_TEST_SUITE_P(
    Names, ColumnListing,
    testing::Values(
        ListingCase{"nothing", {}, 80, ""},
        ListingCase{"one row", {"a", "bb", "c"}, 80, "a  bb  c\n"},
        ListingCase{
            "down the columns, exactly as wide", {"a", "b", "c", "d", "e"}, 7, "a  c  e\nb  d\n"},
        ListingCase{"each column as wide as its widest",
                    {"aaaa", "b", "cc", "d"},
                    10,
                    "aaaa  cc\nb     d\n"},
        ListingCase{"wider than the terminal", {"abcdef", "gh"}, 5, "abcdef\ngh\n"},
        ListingCase{"characters, not bytes", {"\xc3\xa9", "x"}, 4, "\xc3\xa9  x\n"},
        ListingCase{
            "width unknown", {forty, thirty_eight}, 0, forty + "  " + thirty_eight + "\n"}));

} // namespace
