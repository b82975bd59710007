#include "client/platform/files.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <ostream>
#include <string>

namespace {

// A reply file's name with "~/", under each kind of $HOME.
struct HomeCase {
    std::optional<std::string> home; // nullopt: HOME unset
    const char* name;
    const char* expanded;
};

void PrintTo(const HomeCase& c, std::ostream* out) {
    *out << "HOME=" << (c.home ? '"' + *c.home + '"' : "(unset)") << " \"" << c.name << '"';
}

class ExpandHome : public testing::TestWithParam<HomeCase> {
  protected:
    void SetUp() override {
        if (const char* home = std::getenv("HOME")) {
            saved_ = home;
        }
    }
    void TearDown() override {
        if (saved_) {
            ::setenv("HOME", saved_->c_str(), 1);
        } else {
            ::unsetenv("HOME");
        }
    }

    std::optional<std::string> saved_;
};

TEST_P(ExpandHome, OnlyALeadingTildeSlashIsTheHomeFolder) {
    const HomeCase& c = GetParam();
    if (c.home) {
        ::setenv("HOME", c.home->c_str(), 1);
    } else {
        ::unsetenv("HOME");
    }
    EXPECT_EQ(cmdclient::platform::expand_home(c.name), c.expanded);
}

INSTANTIATE_TEST_SUITE_P(Names, ExpandHome,
                         testing::Values(HomeCase{"/home/x", "~/out/r.txt", "/home/x/out/r.txt"},
                                         HomeCase{"/home/x", "~/", "/home/x/"},
                                         HomeCase{"/home/x", "~", "~"},
                                         HomeCase{"/home/x", "~x/r.txt", "~x/r.txt"},
                                         HomeCase{"/home/x", "out/~/r.txt", "out/~/r.txt"},
                                         HomeCase{"/home/x", " ~/r.txt", " ~/r.txt"},
                                         HomeCase{"", "~/r.txt", "~/r.txt"},
                                         HomeCase{std::nullopt, "~/r.txt", "~/r.txt"}));

} // namespace
