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


// An argument vector, as the options see it, and what they make of it.
struct OptionCase {
    std::vector<const char*> args; // after the program name
    int first_server_argument;     // argv index where the host and port begin
    const char* error;             // "" when the options are good
    std::vector<std::string> commands;
    double timeout; // 0: none
    bool quiet;
    bool exit_on_error;
};

void PrintTo(const OptionCase& c, std::ostream* out) {
    for (const char* arg : c.args) {
        *out << arg << ' ';
    }
}

class ParseOptions : public testing::TestWithParam<OptionCase> {};

TEST_P(ParseOptions, FindOptionsOnlyBeforeTheHostAndPort) {
    const OptionCase& c = GetParam();
    std::vector<char*> argv{const_cast<char*>("cmdclient")};
    for (const char* arg : c.args) {
        argv.push_back(const_cast<char*>(arg));
    }
    const cmdclient::CommandLine line =
        cmdclient::parse_options(static_cast<int>(argv.size()), argv.data());
    EXPECT_EQ(line.error, c.error);
    if (*c.error != '\0') {
        return;
    }
    EXPECT_EQ(line.first_server_argument, c.first_server_argument);
    EXPECT_EQ(line.options.commands, c.commands);
    EXPECT_EQ(line.options.timeout ? line.options.timeout->value : 0.0, c.timeout);
    EXPECT_EQ(line.options.quiet, c.quiet);
    EXPECT_EQ(line.options.exit_on_error, c.exit_on_error);
}

INSTANTIATE_TEST_SUITE_P(
    Vectors, ParseOptions,
    testing::Values(
        // Today's command lines keep their meaning.
        OptionCase{{"5000"}, 1, "", {}, 0, false, false},
        OptionCase{{"-h", "5000"}, 1, "", {}, 0, false, false},
        OptionCase{{"5000", "extra"}, 1, "", {}, 0, false, false},
        OptionCase{{"--help", "x"}, 1, "", {}, 0, false, false},
        OptionCase{{"5000", "-q"}, 1, "", {}, 0, false, false},
        // Options, in any order, then the host and port.
        OptionCase{{"-q", "-e", "--timeout", "0.5", "10.0.0.7", "5000"}, 5, "", {}, 0.5, true,
                   true},
        OptionCase{{"-c", "regs", "--command", "mem 0 4", "5000"}, 5, "", {"regs", "mem 0 4"}, 0,
                   false, false},
        OptionCase{{"--quiet", "--exit-on-error", "-x", "5000"}, 3, "", {}, 0, true, true},
        // Missing and bad values name the option.
        OptionCase{{"--timeout"}, 0, "--timeout needs a number of seconds", {}, 0, false, false},
        OptionCase{{"-c"}, 0, "-c needs a value", {}, 0, false, false},
        OptionCase{{"--timeout", "0", "5000"}, 0,
                   "--timeout needs a positive number of seconds, not '0'", {}, 0, false, false},
        OptionCase{{"--connect-timeout", "1s", "5000"}, 0,
                   "--connect-timeout needs a positive number of seconds, not '1s'", {}, 0, false,
                   false},
        OptionCase{{"--timeout", "nan", "5000"}, 0,
                   "--timeout needs a positive number of seconds, not 'nan'", {}, 0, false,
                   false}));

} // namespace
