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
    std::size_t kept;
    Lines merged;
};

void PrintTo(const MergeCase& c, std::ostream* out) {
    *out << c.name;
}

class MergeHistory : public testing::TestWithParam<MergeCase> {};

TEST_P(MergeHistory, KeepsOtherRunsLinesAndTheLatest) {
    const MergeCase& c = GetParam();
    EXPECT_EQ(cmdclient::merge_history(c.saved, c.added, c.kept), c.merged);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MergeHistory,
    testing::Values(MergeCase{"append", {"a", "b"}, {"c"}, 10, {"a", "b", "c"}},
                    MergeCase{"no file yet", {}, {"a", "a", "b"}, 10, {"a", "b"}},
                    MergeCase{"repeat of the last", {"a", "b"}, {"b", "a"}, 10, {"a", "b", "a"}},
                    MergeCase{"oldest go", {"a", "b", "c"}, {"d", "e"}, 3, {"c", "d", "e"}}));

TEST(MergeHistory, KeepsAThousandLines) {
    const Lines merged = cmdclient::merge_history(Lines(1000, "old"), {"new"});
    ASSERT_EQ(merged.size(), 1000u);
    EXPECT_EQ(merged.back(), "new");
}

} // namespace
