#include "client/line_source.h"

#include "tests/unit/pipe_input.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include <fcntl.h>

namespace {

using cmdclient::LineRead;

struct Input {
    const char* name;
    std::string text;
    std::vector<std::string> lines;
};

void PrintTo(const Input& input, std::ostream* out) {
    *out << input.name;
}

class DescriptorLines : public testing::TestWithParam<Input> {};

// Every line, then the end, and the end again: never a line made up.
std::vector<std::string> read_all(int fd) {
    cmdclient::DescriptorLineSource source(fd);
    std::vector<std::string> lines;
    std::string line;
    LineRead read;
    while ((read = source.read(line)) == LineRead::line) {
        lines.push_back(line);
    }
    EXPECT_EQ(read, LineRead::end);
    EXPECT_EQ(source.read(line), LineRead::end);
    return lines;
}

TEST_P(DescriptorLines, SplitsLinesAndDropsOnlyTheCrOfCrLf) {
    PipeInput input(GetParam().text);
    EXPECT_EQ(read_all(input.fd()), GetParam().lines);
}

TEST_P(DescriptorLines, WaitsOnANonBlockingDescriptor) {
    PipeInput input(GetParam().text);
    ASSERT_EQ(::fcntl(input.fd(), F_SETFL, O_NONBLOCK), 0);
    EXPECT_EQ(read_all(input.fd()), GetParam().lines);
}

const std::string long_line(3 << 20, 'r'); // many reads of the descriptor, many blocks

INSTANTIATE_TEST_SUITE_P(Inputs, DescriptorLines,
                         testing::Values(
                             // A final CR with no newline after it belongs to the line.
                             Input{"line_ends",
                                   "regs\r\n\nq\rx\r\n\r\r\n  \nlast\r",
                                   {"regs", "", "q\rx", "\r", "  ", "last\r"}},
                             Input{"nothing", "", {}}, Input{"one_newline", "\n", {""}},
                             Input{"long_line", long_line + "\r\nnext", {long_line, "next"}},
                             Input{"many_lines", std::string(200000, '\n'),
                                   std::vector<std::string>(200000)}));

} // namespace
