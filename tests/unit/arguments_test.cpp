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


TEST(ParseSeconds, PositiveAndFiniteOnly) {
    EXPECT_EQ(cmdclient::parse_seconds("0.5"), 0.5);
    for (const char* text : {"0", "-1", "nan", "inf", "1s", " 1", ""}) {
        EXPECT_FALSE(cmdclient::parse_seconds(text).has_value()) << text;
    }
}

using Action = cmdclient::CommandLine::Action;

// The command line of `args` after the program's name.
cmdclient::CommandLine read(const std::vector<const char*>& args) {
    std::vector<char*> argv{const_cast<char*>("cmdclient")};
    for (const char* arg : args) {
        argv.push_back(const_cast<char*>(arg));
    }
    return cmdclient::read_command_line(static_cast<int>(argv.size()), argv.data());
}

// An argument vector, and what the command line makes of it.
struct OptionCase {
    std::vector<const char*> args; // after the program name
    Action action;
    const char* error; // bad_option: what it says
    const char* host;  // run: the host and port found after the options
    int port;
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

class ReadCommandLine : public testing::TestWithParam<OptionCase> {};

TEST_P(ReadCommandLine, ReadsOptionsAndTheHostAndPort) {
    const OptionCase& c = GetParam();
    const cmdclient::CommandLine line = read(c.args);
    EXPECT_EQ(line.action, c.action);
    EXPECT_EQ(line.error, c.error);
    if (c.action != Action::run) {
        return;
    }
    EXPECT_EQ(line.options.host, c.host);
    EXPECT_EQ(line.options.port, c.port);
    EXPECT_EQ(line.options.commands, c.commands);
    EXPECT_EQ(line.options.timeout ? line.options.timeout->value : 0.0, c.timeout);
    EXPECT_EQ(line.options.quiet, c.quiet);
    EXPECT_EQ(line.options.exit_on_error, c.exit_on_error);
}

constexpr const char* none = "";

INSTANTIATE_TEST_SUITE_P(
    Vectors, ReadCommandLine,
    testing::Values(
        // Arguments that are none of ours keep their meaning as host or port texts.
        OptionCase{{"5000"}, Action::run, none, "localhost", 5000, {}, 0, false, false},
        OptionCase{{"-h", "5000"}, Action::run, none, "-h", 5000, {}, 0, false, false},
        OptionCase{{"5000", "-q"}, Action::run, none, "localhost", 5000, {}, 0, true, false},
        OptionCase{{"-qx", "5000"}, Action::run, none, "-qx", 5000, {}, 0, false, false},
        OptionCase{{"--time", "5"}, Action::run, none, "--time", 5, {}, 0, false, false},
        OptionCase{{"-q", "--", "-5", "7"}, Action::run, none, "-5", 7, {}, 0, true, false},
        OptionCase{{"-5", "host"}, Action::no_port, none, "", 0, {}, 0, false, false},
        OptionCase{{"-q"}, Action::usage, none, "", 0, {}, 0, false, false},
        // Options in any order and spelling, then the host and port.
        OptionCase{{"-q", "-e", "--timeout", "0.5", "10.0.0.7", "5000"}, Action::run, none,
                   "10.0.0.7", 5000, {}, 0.5, true, true},
        OptionCase{{"-eq", "--timeout=2", "--", "5000"}, Action::run, none, "localhost", 5000, {},
                   2, true, true},
        OptionCase{{"-cregs", "--command=mem 0 4", "-qc", "x", "5000"}, Action::run, none,
                   "localhost", 5000, {"regs", "mem 0 4", "x"}, 0, true, false},
        // The first --help or --version acts; an error before it wins.
        OptionCase{{"--help", "x"}, Action::help, none, "", 0, {}, 0, false, false},
        OptionCase{{"-e", "-V", "--help"}, Action::version, none, "", 0, {}, 0, false, false},
        OptionCase{{"--timeout", "x", "--help"}, Action::bad_option,
                   "--timeout needs a positive number of seconds, not 'x'", "", 0, {}, 0, false,
                   false},
        // Missing and unwanted values name the option as typed.
        OptionCase{{"--timeout"}, Action::bad_option, "--timeout needs a number of seconds", "",
                   0, {}, 0, false, false},
        OptionCase{{"-qc"}, Action::bad_option, "-c needs a value", "", 0, {}, 0, false, false},
        OptionCase{{"--command"}, Action::bad_option, "--command needs a value", "", 0, {}, 0,
                   false, false},
        OptionCase{{"--quiet=yes", "5000"}, Action::bad_option, "--quiet takes no value", "", 0,
                   {}, 0, false, false},
        OptionCase{{"--connect-timeout", "1s", "5000"}, Action::bad_option,
                   "--connect-timeout needs a positive number of seconds, not '1s'", "", 0, {}, 0,
                   false, false}));

// Ours anywhere on the line, none after "--"; a value that follows its
// option is never one of ours, unless any text will do; a value that took
// the port is named.
INSTANTIATE_TEST_SUITE_P(
    Anywhere, ReadCommandLine,
    testing::Values(
        OptionCase{{"10.0.0.7", "5000", "-e"}, Action::run, none, "10.0.0.7", 5000, {}, 0, false,
                   true},
        OptionCase{{"10.0.0.7", "-q", "5000", "--timeout", "2"}, Action::run, none, "10.0.0.7",
                   5000, {}, 2, true, false},
        OptionCase{{"10.0.0.7", "5000", "extra", "-qe"}, Action::run, none, "10.0.0.7", 5000, {},
                   0, true, true},
        OptionCase{{"5000", "--", "-q"}, Action::run, none, "-q", 5000, {}, 0, false, false},
        OptionCase{{"--4", "5000", "--V"}, Action::run, none, "--4", 5000, {}, 0, false, false},
        OptionCase{{"--", "5000", "--", "-e"}, Action::run, none, "--", 5000, {}, 0, false, false},
        OptionCase{{"-h", "5000", "-c", "-q"}, Action::run, none, "-h", 5000, {"-q"}, 0, false,
                   false},
        OptionCase{{"5000", "--help"}, Action::help, none, "", 0, {}, 0, false, false},
        OptionCase{{"-t", "--help"}, Action::help, none, "", 0, {}, 0, false, false},
        OptionCase{{"5000", "-L", "-q"}, Action::bad_option,
                   "-L needs a file name, not the option '-q'", "", 0, {}, 0, false, false},
        OptionCase{{"--timeout", "--echo", "5000"}, Action::bad_option,
                   "--timeout needs a number of seconds, not the option '--echo'", "", 0, {}, 0,
                   false, false},
        OptionCase{{"--retry", "-e", "5000"}, Action::bad_option,
                   "--retry needs a number of attempts, not the option '-e'", "", 0, {}, 0, false,
                   false},
        OptionCase{{"--timeout", "5000"}, Action::usage,
                   "--timeout took '5000' as its value; the port is missing", "", 0, {}, 0, false,
                   false},
        OptionCase{{"host", "-qc", "5000"}, Action::no_port,
                   "-c took '5000' as its value; the port is missing", "", 0, {}, 0, false, false},
        OptionCase{{"host", "--timeout=5000"}, Action::no_port, none, "", 0, {}, 0, false, false},
        OptionCase{{"--retry", "5000", "-c", "x", "h"}, Action::no_port, none, "", 0, {}, 0,
                   false, false}));

// The options that reach the server by name or again later.
struct ReachCase {
    std::vector<const char*> args; // after the program name
    Action action;
    const char* error; // bad_option: what it says
    bool lookup;
    cmdclient::Family family;
    const char* lookup_option;
    int retries;
    double retry_delay;
};

void PrintTo(const ReachCase& c, std::ostream* out) {
    for (const char* arg : c.args) {
        *out << arg << ' ';
    }
}

class ReadReachOptions : public testing::TestWithParam<ReachCase> {};

TEST_P(ReadReachOptions, ReadsLookupAndRetry) {
    const ReachCase& c = GetParam();
    const cmdclient::CommandLine line = read(c.args);
    EXPECT_EQ(line.action, c.action);
    EXPECT_EQ(line.error, c.error);
    if (c.action != Action::run) {
        return;
    }
    EXPECT_EQ(line.options.host, "board");
    EXPECT_EQ(!line.options.lookup.empty(), c.lookup);
    EXPECT_EQ(line.options.family(), c.family);
    EXPECT_EQ(line.options.lookup.empty() ? "" : line.options.lookup.front(), c.lookup_option);
    EXPECT_EQ(line.options.retries, c.retries);
    EXPECT_EQ(line.options.retry_delay.value, c.retry_delay);
}

using cmdclient::Family;

INSTANTIATE_TEST_SUITE_P(
    Vectors, ReadReachOptions,
    testing::Values(
        ReachCase{{"board", "5000"}, Action::run, none, false, Family::any, "", 0, 1},
        ReachCase{{"-6", "--lookup", "board", "5000"}, Action::run, none, true, Family::ipv6,
                  "-6", 0, 1},
        ReachCase{{"-q4", "-4", "board", "5000"}, Action::run, none, true, Family::ipv4, "-4", 0, 1},
        ReachCase{{"--lookup", "board", "5000"}, Action::run, none, true, Family::any,
                  "--lookup", 0, 1},
        ReachCase{{"-4", "-6", "board", "5000"}, Action::bad_option,
                  "-4 and -6 cannot be given together", false, Family::any, "", 0, 1},
        ReachCase{{"-4", "-6", "--help"}, Action::bad_option,
                  "-4 and -6 cannot be given together", false, Family::any, "", 0, 1},
        ReachCase{{"-64", "board", "5000"}, Action::bad_option,
                  "-4 and -6 cannot be given together", false, Family::any, "", 0, 1},
        ReachCase{{"--retry=3", "board", "5000"}, Action::run, none, false, Family::any, "", 3, 1},
        ReachCase{{"--retry", "1000000", "--retry-delay=0", "board", "5000"}, Action::run, none,
                  false, Family::any, "", 1000000, 0},
        ReachCase{{"--retry-delay", "0.5", "--retry", "2", "board", "5000"}, Action::run, none,
                  false, Family::any, "", 2, 0.5},
        ReachCase{{"--retry-delay", "2", "board", "5000"}, Action::bad_option,
                  "--retry-delay needs --retry", false, Family::any, "", 0, 1},
        ReachCase{{"--retry", "1000001", "board", "5000"}, Action::bad_option,
                  "--retry needs a whole number from 0 to 1000000, not '1000001'", false,
                  Family::any, "", 0, 1},
        ReachCase{{"--retry", "2", "--retry-delay", "-1", "board", "5000"}, Action::bad_option,
                  "--retry-delay needs a number of seconds, 0 or more, not '-1'", false,
                  Family::any, "", 0, 1},
        ReachCase{{"--retry"}, Action::bad_option, "--retry needs a number of attempts", false,
                  Family::any, "", 0, 1},
        ReachCase{{"--lookup=yes", "board", "5000"}, Action::bad_option,
                  "--lookup takes no value", false, Family::any, "", 0, 1},
        // A name that only starts like ours stays a host text.
        ReachCase{{"--retr", "board"}, Action::no_port, none, false, Family::any, "", 0, 1}));

// The record's options: -L takes a value as -c does, -t needs -L (wherever it
// comes), and the bundles getopt reads.
struct RecordCase {
    std::vector<const char*> args;
    const char* error; // empty: a run
    const char* log_file;
    bool timestamps;
    bool echo;
    const char* host;
};

void PrintTo(const RecordCase& c, std::ostream* out) {
    for (const char* arg : c.args) {
        *out << arg << ' ';
    }
}

class RecordOptions : public testing::TestWithParam<RecordCase> {};

TEST_P(RecordOptions, AreRead) {
    const RecordCase& c = GetParam();
    const cmdclient::CommandLine line = read(c.args);
    EXPECT_EQ(line.error, c.error);
    if (*c.error != '\0') {
        EXPECT_EQ(line.action, Action::bad_option);
        return;
    }
    EXPECT_EQ(line.action, Action::run);
    EXPECT_EQ(line.options.log_file.value_or("<none>"), c.log_file);
    EXPECT_EQ(line.options.timestamps, c.timestamps);
    EXPECT_EQ(line.options.echo, c.echo);
    EXPECT_EQ(line.options.host, c.host);
}

INSTANTIATE_TEST_SUITE_P(
    Vectors, RecordOptions,
    testing::Values(RecordCase{{"-t", "-L", "f", "5000"}, none, "f", true, false, "localhost"},
                    RecordCase{{"--log-file=s.log", "--timestamps", "--echo", "h", "5000"}, none,
                               "s.log", true, true, "h"},
                    RecordCase{{"-Lt", "f", "5000"}, none, "t", false, false, "f"},
                    RecordCase{{"-qtLx", "5000"}, none, "x", true, false, "localhost"},
                    RecordCase{{"-t", "5000"}, "-t needs -L FILE", "", false, false, ""},
                    RecordCase{{"--timestamps", "-q", "5000"}, "-t needs -L FILE", "", false,
                               false, ""},
                    RecordCase{{"-L"}, "-L needs a value", "", false, false, ""},
                    RecordCase{{"--log-file"}, "--log-file needs a value", "", false, false, ""},
                    RecordCase{{"--echo=1", "5000"}, "--echo takes no value", "", false, false,
                               ""},
                    RecordCase{{"-Lx", "-T", "5000"}, none, "x", false, false, "-T"}));

// The session's options: -f files keep their place among the -c commands.
struct SessionCase {
    std::vector<const char*> args;
    const char* error; // empty: a run
    int repeat;
    double interval;
    std::vector<std::pair<std::size_t, std::string>> files; // after how many -c, name
};

void PrintTo(const SessionCase& c, std::ostream* out) {
    for (const char* arg : c.args) {
        *out << arg << ' ';
    }
}

class SessionOptions : public testing::TestWithParam<SessionCase> {};

TEST_P(SessionOptions, AreRead) {
    const SessionCase& c = GetParam();
    const cmdclient::CommandLine line = read(c.args);
    EXPECT_EQ(line.error, c.error);
    if (*c.error != '\0') {
        return;
    }
    EXPECT_EQ(line.options.repeat, c.repeat);
    EXPECT_EQ(line.options.interval.value, c.interval);
    std::vector<std::pair<std::size_t, std::string>> files;
    for (const cmdclient::CommandFile& file : line.options.files) {
        files.emplace_back(file.after_commands, file.name);
    }
    EXPECT_EQ(files, c.files);
}

INSTANTIATE_TEST_SUITE_P(
    Vectors, SessionOptions,
    testing::Values(SessionCase{{"5000"}, none, 1, 0, {}},
                    SessionCase{{"-f", "a", "-c", "x", "--file=b", "-cy", "-f-", "5000"}, none, 1,
                                0, {{0, "a"}, {1, "b"}, {2, "-"}}},
                    SessionCase{{"5000", "-r0", "--interval", "0.25"}, none, 0, 0.25, {}},
                    SessionCase{{"-i", "1", "5000"}, "-i needs -r COUNT", 1, 0, {}},
                    SessionCase{{"--repeat", "1000000001", "5000"},
                                "--repeat needs a whole number from 0 to 1000000000, not "
                                "'1000000001'",
                                1, 0, {}}));

} // namespace
