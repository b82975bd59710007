#include "client/command_grammar.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace {

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
