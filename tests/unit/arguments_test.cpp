#include "client/arguments.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace {

using cmdclient::classify_arguments;
using cmdclient::parse_port;

TEST(IsNumeric, DigitsOnlyAndTheEmptyText) {
    EXPECT_TRUE(cmdclient::is_numeric(""));
    EXPECT_TRUE(cmdclient::is_numeric("5000"));
    EXPECT_TRUE(cmdclient::is_numeric("007"));
    for (const char* text : {"-5", "+5", "5 ", " 5", "1.2.3.4", "0x10", "localhost", "5\xB9"}) {
        EXPECT_FALSE(cmdclient::is_numeric(text)) << text;
    }
}

struct Classification {
    std::vector<std::string> args;
    const char* host; // null: absent
    const char* port;
};

void PrintTo(const Classification& c, std::ostream* out) {
    for (const auto& arg : c.args) {
        *out << '"' << arg << "\" ";
    }
}

class ClassifyArguments : public testing::TestWithParam<Classification> {};

TEST_P(ClassifyArguments, FindsHostAndPort) {
    std::vector<char*> argv{const_cast<char*>("cmdclient")};
    std::vector<std::string> args = GetParam().args;
    for (auto& arg : args) {
        argv.push_back(arg.data());
    }
    const auto found = classify_arguments(static_cast<int>(argv.size()), argv.data());
    auto text = [](const char* p) { return p == nullptr ? std::string("<none>") : std::string(p); };
    EXPECT_EQ(text(found.host), text(GetParam().host));
    EXPECT_EQ(text(found.port), text(GetParam().port));
}

INSTANTIATE_TEST_SUITE_P(Cases, ClassifyArguments,
                         testing::Values(Classification{{"5000"}, nullptr, "5000"},
                                         Classification{{"5000", "10.0.0.7"}, "10.0.0.7", "5000"},
                                         Classification{{"10.0.0.7", "5000"}, "10.0.0.7", "5000"},
                                         Classification{{"5000", "6000"}, nullptr, "6000"},
                                         Classification{{"hostA", "hostB"}, "hostB", nullptr},
                                         Classification{{""}, nullptr, ""},
                                         Classification{
                                             {"5000", "extra1", "extra2"}, "extra1", "5000"},
                                         Classification{{"-5", "host"}, "host", nullptr}));

TEST(ParsePort, AcceptsUpTo65535) {
    EXPECT_EQ(parse_port(""), 0);
    EXPECT_EQ(parse_port("0"), 0);
    EXPECT_EQ(parse_port("5000"), 5000);
    EXPECT_EQ(parse_port("0005000"), 5000);
    EXPECT_EQ(parse_port("65535"), 65535);
}

TEST(ParsePort, RejectsValuesAbove65535HoweverLong) {
    for (const char* text :
         {"65536", "65537", "99999", "4294967297", "2147483648",
          "000000000000000000000000000000000070000", "99999999999999999999999999999999999999999"}) {
        EXPECT_FALSE(parse_port(text).has_value()) << text;
    }
}

} // namespace
