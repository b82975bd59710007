#include "client/history_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace {

using Lines = std::vector<std::string>;

class HistoryStoreTest : public testing::Test {
  protected:
    void SetUp() override {
        char name[] = "/tmp/cmdclient-history-XXXXXX";
        ASSERT_NE(::mkdtemp(name), nullptr);
        folder_ = name;
    }
    void TearDown() override {
        ::unlink((folder_ + "/state/history").c_str());
        ::rmdir((folder_ + "/state").c_str());
        ::rmdir(folder_.c_str());
    }
    cmdclient::HistoryFile file() const { return {folder_ + "/state/history", true}; }

    std::string folder_;
};

TEST_F(HistoryStoreTest, RunsSideBySideKeepEachOthersLines) {
    using cmdclient::HistoryResult;
    const cmdclient::HistoryFile first = file();
    const cmdclient::HistoryFile second = file();
    std::string reason;
    Lines lines;
    ASSERT_EQ(first.load(lines, reason), HistoryResult::done); // no file yet: no lines
    EXPECT_TRUE(lines.empty());
    ASSERT_EQ(first.append({"regs > a b.txt"}, reason), HistoryResult::done);
    ASSERT_EQ(second.append({"mem 0 8"}, reason), HistoryResult::done);
    ASSERT_EQ(first.append({"quit"}, reason), HistoryResult::done);
    ASSERT_EQ(second.load(lines, reason), HistoryResult::done);
    EXPECT_EQ(lines, (Lines{"regs > a b.txt", "mem 0 8", "quit"}));

    struct stat status {};
    ASSERT_EQ(::stat(first.path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
}

// Lines with what the file's format writes as escapes come back as typed.
TEST_F(HistoryStoreTest, LinesComeBackAsTyped) {
    const Lines typed{"a  b\tc\\040 \\", "tab\there", "ctl\x01\x1b[A\x7f", "caf\xc3\xa9 ",
                      "\\M-x \\^A"};
    const cmdclient::HistoryFile store = file();
    std::string reason;
    Lines lines;
    ASSERT_EQ(store.append(typed, reason), cmdclient::HistoryResult::done) << reason;
    ASSERT_EQ(store.load(lines, reason), cmdclient::HistoryResult::done) << reason;
    EXPECT_EQ(lines, typed);
}

// Each escape the format may hold, as written by hand; and of a file longer
// than what is read, only the whole lines of its end.
TEST_F(HistoryStoreTest, ReadsEscapesAndOnlyTheEndOfABigFile) {
    const std::string name = file().path;
    ASSERT_EQ(::mkdir((folder_ + "/state").c_str(), 0700), 0);
    for (const bool big : {false, true}) {
        std::string text = "_HiStOrY_V2_\n";
        if (big) {
            text += "first\n" + std::string(cmdclient::history_read_limit, 'x') + "\n";
        }
        text += "a\\040b\\sc\\\\d\\M-a\\M^A\\^A\\^?\\q\\\nlast";
        FILE* out = std::fopen(name.c_str(), "w");
        ASSERT_NE(out, nullptr);
        std::fwrite(text.data(), 1, text.size(), out);
        std::fclose(out);
        std::string reason;
        Lines lines;
        ASSERT_EQ(file().load(lines, reason), cmdclient::HistoryResult::done);
        EXPECT_EQ(lines, (Lines{"a b c\\d\xe1\x81\x01\x7f\\q\\", "last"})) << big;
    }
}

// $CMDCLIENT_HISTIGNORE: which lines stay out of the history.
struct IgnoreCase {
    const char* patterns;
    const char* line;
    bool ignored;
};

void PrintTo(const IgnoreCase& c, std::ostream* out) {
    *out << '"' << c.patterns << "\" \"" << c.line << '"';
}

class HistoryIgnore : public testing::TestWithParam<IgnoreCase> {};

TEST_P(HistoryIgnore, MatchesTheWholeLineAgainstEachPattern) {
    EXPECT_EQ(cmdclient::ignored_by_history(GetParam().patterns, GetParam().line),
              GetParam().ignored);
}

INSTANTIATE_TEST_SUITE_P(
    Patterns, HistoryIgnore,
    testing::Values(IgnoreCase{"", "login secret", false},
                    IgnoreCase{"login *", "login secret", true},
                    IgnoreCase{"login *", "do login secret", false},      // the whole line
                    IgnoreCase{"x:*> keys.txt", "dump > keys.txt", true}, // redirect included
                    IgnoreCase{"::pa?s[0-9]:", "pass7", true},            // empty patterns skipped
                    IgnoreCase{"::", "pass7", false}));

} // namespace
