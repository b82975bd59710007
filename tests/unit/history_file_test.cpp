#include "client/history_file.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

struct MergeCase {
    const char* name;
    Lines saved;
    Lines added;
    Lines merged;
};

void PrintTo(const MergeCase& c, std::ostream* out) {
    *out << c.name;
}

class MergeHistory : public testing::TestWithParam<MergeCase> {};

TEST_P(MergeHistory, KeepsOtherRunsLinesAndTheLatest) {
    const MergeCase& c = GetParam();
    EXPECT_EQ(cmdclient::merge_history(c.saved, c.added, 3), c.merged);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MergeHistory,
    testing::Values(MergeCase{"append", {"a", "b"}, {"c"}, {"a", "b", "c"}},
                    MergeCase{"no file yet", {}, {"a", "a", "b"}, {"a", "b"}},
                    MergeCase{"repeat of the last", {"a", "b"}, {"b", "a"}, {"a", "b", "a"}},
                    MergeCase{"oldest go", {"a", "b", "c"}, {"d", "e"}, {"c", "d", "e"}}));

} // namespace
