#include "client/history_file.h"

#include <gtest/gtest.h>

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
    const cmdclient::HistoryStore first(file());
    const cmdclient::HistoryStore second(file());
    int error = 0;
    Lines lines;
    ASSERT_TRUE(first.load(lines, error)); // no file yet: no lines
    EXPECT_TRUE(lines.empty());
    ASSERT_TRUE(first.append({"regs > a b.txt"}, error));
    ASSERT_TRUE(second.append({"mem 0 8"}, error));
    ASSERT_TRUE(first.append({"quit"}, error));
    ASSERT_TRUE(second.load(lines, error));
    EXPECT_EQ(lines, (Lines{"regs > a b.txt", "mem 0 8", "quit"}));

    struct stat status {};
    ASSERT_EQ(::stat(first.path().c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
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
