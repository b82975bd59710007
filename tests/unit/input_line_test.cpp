#include "client/line_source.h"

#include <gtest/gtest.h>

#include <ostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

TEST(ReadInputLine, SplitsLinesAndDropsOnlyTheCrOfCrLf) {
    std::istringstream input("regs\r\n\nq\rx\r\n\r\r\n  \nlast\r");
    std::vector<std::string> lines;
    std::string line;
    while (cmdclient::read_input_line(input, line)) {
        lines.push_back(line);
    }
    // The final CR has no newline after it, so it belongs to the line.
    const std::vector<std::string> expected{"regs", "", "q\rx", "\r", "  ", "last\r"};
    EXPECT_EQ(lines, expected);
}

TEST(ReadInputLine, EndsOnlyWhenNothingIsLeft) {
    std::string line = "stale";
    std::istringstream empty("");
    EXPECT_FALSE(cmdclient::read_input_line(empty, line));
    std::istringstream one_newline("\n");
    EXPECT_TRUE(cmdclient::read_input_line(one_newline, line));
    EXPECT_EQ(line, "");
    EXPECT_FALSE(cmdclient::read_input_line(one_newline, line));
}

TEST(ReadInputLine, HasNoLengthLimit) {
    const std::string long_line(3 << 20, 'r');
    std::istringstream input(long_line + "\nnext\n");
    std::string line;
    ASSERT_TRUE(cmdclient::read_input_line(input, line));
    EXPECT_EQ(line.size(), long_line.size());
    ASSERT_TRUE(cmdclient::read_input_line(input, line));
    EXPECT_EQ(line, "next");
}

struct Split {
    const char* line;
    const char* command;
    const char* target;
};

void PrintTo(const Split& split, std::ostream* out) {
    *out << '"' << split.line << '"';
}

class SplitRedirection : public testing::TestWithParam<Split> {};

TEST_P(SplitRedirection, SeparatesCommandAndTarget) {
    std::string command = GetParam().line;
    std::string target = "previous";
    cmdclient::split_redirection(command, target);
    EXPECT_EQ(command, GetParam().command);
    EXPECT_EQ(target, GetParam().target);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, SplitRedirection,
    testing::Values(Split{"regs", "regs", "stdout"}, Split{" quit", " quit", "stdout"},
                    Split{"quit ", "quit ", "stdout"}, Split{"   ", "   ", "stdout"},
                    Split{"", "", "stdout"}, Split{"regs > out.txt", "regs", "out.txt"},
                    Split{"regs   >    out.txt  ", "regs", "out.txt  "},
                    Split{"  regs > x", "  regs", "x"}, Split{"a>b>c", "a", "b>c"},
                    Split{"> file", "", "file"}, Split{"   > file", "", "file"},
                    Split{"regs > stdout", "regs", "stdout"}, Split{"regs >", "regs", ""},
                    Split{"regs >   ", "regs", ""}, Split{"regs\t> x", "regs\t", "x"},
                    Split{"regs >\tx", "regs", "\tx"}, Split{"quit > x", "quit", "x"}));

} // namespace
