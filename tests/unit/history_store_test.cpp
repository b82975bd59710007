#include "client/history_file.h"

#include <gtest/gtest.h>

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

} // namespace
