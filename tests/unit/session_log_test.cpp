#include "client/session_log.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

// One call on the log: w write, p prompt, l line_read, r report, e the run
// ending by a signal (flush_before_ending); f flush.
struct Step {
    char call;
    const char* text;
};

struct LogCase {
    const char* name;
    const char* before; // what the file held before the run
    std::vector<Step> steps;
    const char* expected; // the run's part of the file, without timestamps
};

void PrintTo(const LogCase& c, std::ostream* out) {
    *out << c.name;
}

std::string read_file(const std::string& path) {
    std::ifstream in(path);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
}

std::string run_log(const LogCase& c, bool timestamps) {
    const std::string path = testing::TempDir() + "session_log_test.log";
    std::remove(path.c_str());
    if (*c.before != '\0') {
        std::ofstream(path) << c.before;
    }
    {
        cmdclient::SessionLog log;
        EXPECT_TRUE(log.open(path, timestamps));
        for (const Step& step : c.steps) {
            switch (step.call) {
            case 'w': log.write(step.text); break;
            case 'p': log.prompt(); break;
            case 'l': log.line_read(step.text); break;
            case 'r': log.report(step.text); break;
            case 'e': log.flush_before_ending(net::Clock::now()); break;
            default: log.flush(); break;
            }
        }
        log.flush();
    }
    const std::string text = read_file(path);
    std::remove(path.c_str());
    EXPECT_EQ(text.substr(0, std::string(c.before).size()), c.before);
    return text.substr(std::string(c.before).size());
}

class SessionLogText : public testing::TestWithParam<LogCase> {};

// Texts longer than the stamped lines' gathering: many short lines in one
// write, and one line longer than all of it together.
std::string repeated(const std::string& piece, int times) {
    std::string all;
    for (int i = 0; i < times; ++i) {
        all += piece;
    }
    return all;
}
const std::string many_lines = repeated("0123456789abcdef0123456789abcdef0123456789\n", 300);
const std::string long_line = repeated("0123456789", 700) + "\nshort\n";
const std::string many_lines_logged = "half a " + many_lines + "end\n";
const std::string long_lines_logged = "a\n" + long_line + long_line;

TEST_P(SessionLogText, IsWhatATerminalShows) {
    EXPECT_EQ(run_log(GetParam(), false), GetParam().expected);
}

TEST_P(SessionLogText, StampsEachLineOnce) {
    const std::string stamped = run_log(GetParam(), true);
    const std::regex stamp(R"(\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}\] )");
    std::string without;
    std::istringstream lines(stamped);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.empty() && without.empty() && *GetParam().before != '\0') {
            without += "\n"; // the newline that ends the killed run's line
            continue;
        }
        std::smatch found;
        ASSERT_TRUE(std::regex_search(line, found, stamp) && found.position(0) == 0) << line;
        without += found.suffix().str() + (lines.eof() ? "" : "\n");
    }
    EXPECT_EQ(without, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Calls, SessionLogText,
    testing::Values(
        LogCase{"PromptsWithTheirLines", "",
                {{'w', "banner\n"}, {'p', ""}, {'l', "regs > r.txt"}, {'p', ""}, {'l', ""},
                 {'p', ""}, {'l', "mem"}, {'w', "0000: 00\n"}, {'p', ""}, {'w', "\n"}},
                "banner\nOk> regs > r.txt\nOk> \nOk> mem\n0000: 00\nOk> \n"},
        // Ctrl-C drops the typed line and prompts again: one prompt in the log.
        LogCase{"ADroppedLineLeavesOnePrompt", "",
                {{'p', ""}, {'p', ""}, {'l', "quit"}, {'w', "\n"}},
                "Ok> quit\n\n"},
        // A reply that ends without a newline: the prompt follows on its line.
        LogCase{"AReplyWithoutNewline", "",
                {{'p', ""}, {'l', "x"}, {'w', "no newline;"}, {'f', ""}, {'w', "still"},
                 {'p', ""}, {'l', "y"}},
                "Ok> x\nno newline;stillOk> y\n"},
        LogCase{"ReportsOnAFreshLine", "",
                {{'p', ""}, {'l', "dump"}, {'w', "abc"}, {'r', "interrupted"}, {'w', "def\n"},
                 {'p', ""}, {'r', "cannot read standard input: EIO"}},
                "Ok> dump\nabc\ncmdclient: interrupted\ndef\nOk> \n"
                "cmdclient: cannot read standard input: EIO\n"},
        LogCase{"AKilledRunsLineIsEnded", "old run\nOk> half",
                {{'w', "banner\n"}}, "\nbanner\n"},
        LogCase{"EndingBySignalKeepsWhatWasShown", "",
                {{'p', ""}, {'l', "dump"}, {'w', "part of a li"}, {'e', ""}},
                "Ok> dump\npart of a li"},
        LogCase{"EndingAtThePromptKeepsIt", "", {{'p', ""}, {'e', ""}}, "Ok> "},
        LogCase{"ManyLinesInOneWrite", "",
                {{'w', "half a "}, {'w', many_lines.c_str()}, {'w', "end\n"}},
                many_lines_logged.c_str()},
        LogCase{"ALineLongerThanItsGathering", "",
                {{'w', "a\n"}, {'w', long_line.c_str()}, {'w', long_line.c_str()}},
                long_lines_logged.c_str()}),
    [](const testing::TestParamInfo<LogCase>& info) { return std::string(info.param.name); });

TEST(SessionLog, CannotOpenAFolderAndSaysWhy) {
    cmdclient::SessionLog log;
    EXPECT_FALSE(log.open(testing::TempDir(), false));
    EXPECT_FALSE(log.active());
    EXPECT_EQ(log.output().take_failure().rfind("cannot open log file '", 0), 0U);
}

} // namespace
