#include "demo/machine.h"
#include "demo/number.h"
#include "demo/reply.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

namespace {

using demo::parse_number;

TEST(DemoNumbers, ReadsDecimalCHexAndAssemblerHex) {
    const std::pair<const char*, std::uint32_t> cases[] = {{"0", 0},
                                                           {"42", 42},
                                                           {"0x2a", 42},
                                                           {"0X2A", 42},
                                                           {"2ah", 42},
                                                           {"14h", 20},
                                                           {"0FFH", 255},
                                                           {"ffh", 255},
                                                           {"007", 7},
                                                           {"0h", 0},
                                                           {"4294967295", UINT32_MAX},
                                                           {"0xFFFFFFFF", UINT32_MAX}};
    for (const auto& [text, value] : cases) {
        EXPECT_EQ(parse_number(text), std::optional<std::uint32_t>(value)) << text;
    }
}

TEST(DemoNumbers, RejectsEverythingElse) {
    for (const char* text : {"", "h", "0x", "-1", "+1", "1 2", "0x1g", "12g", "1.5", "4294967296",
                             "0x100000000", "100000000h", "0b101", "x10", "ah h"}) {
        EXPECT_EQ(parse_number(text), std::nullopt) << text;
    }
}

TEST(DemoNumbers, FormatsInEachRadixWithPadding) {
    EXPECT_EQ(demo::format_number(42, 16, 4), "002A");
    EXPECT_EQ(demo::format_number(42, 10), "42");
    EXPECT_EQ(demo::format_number(5, 2, 8), "00000101");
    EXPECT_EQ(demo::format_number(8, 8), "10");
    EXPECT_EQ(demo::format_number(UINT32_MAX, 16), "FFFFFFFF");
}

TEST(DemoMachine, UnknownOrMalformedCommandsAreSyntaxErrors) {
    demo::Machine machine;
    for (const char* command :
         {"", "   ", "bogus", "regs extra", "set Q 1", "set A", "set A x", "radix 3", "mem",
          "mem 4096", "mem 4000 200", "poke 1", "fill 0 5000 1", "HELP", "set A 0x100000000"}) {
        EXPECT_EQ(machine.execute(command), "Syntax error") << command;
    }
    EXPECT_FALSE(machine.terminated());
}

TEST(DemoMachine, RegistersAndMemoryFollowTheRadix) {
    demo::Machine machine;
    machine.execute("set A 0x2a");
    machine.execute("set B 14h");
    machine.execute("radix 10");
    EXPECT_EQ(machine.execute("regs"), "A=42 B=20 C=0 D=0 SP=4096 PC=0\n");
    machine.execute("poke 16 1 2 255");
    machine.execute("radix 16");
    EXPECT_EQ(machine.execute("mem 10h 3"), "0010: 01 02 FF\n");
    EXPECT_EQ(machine.execute("poke 10h 1FFh"), "0010: FF\n"); // a byte keeps the low 8 bits
    EXPECT_EQ(machine.execute("fill 0 1 0"), "Filled 1 byte\n");
    EXPECT_EQ(machine.execute("fill 0 2 0"), "Filled 2 bytes\n");
    EXPECT_EQ(machine.execute("fill 0 0 0"), "Filled 0 bytes\n");
    EXPECT_EQ(machine.execute("terminate"), "Server stopping\n");
    EXPECT_TRUE(machine.terminated());
}

TEST(DemoMachine, NoReplyHoldsAnEarlyEndMarker) {
    demo::Machine machine;
    for (const char* radix : {"radix 2", "radix 8", "radix 10", "radix 16"}) {
        machine.execute(radix);
        for (const char* command : {"help", "regs", "mem 0 4096"}) {
            EXPECT_EQ(machine.execute(command).find("Ok"), std::string::npos) << command;
        }
    }
}

TEST(DemoReply, EveryReplyButTheSyntaxErrorEndsInOkAndNothingElse) {
    EXPECT_EQ(demo::wire_reply("Syntax error"), "Syntax error");
    // No padding, whatever the length: the client ends a reply whose "Ok" a
    // receive boundary splits, and a network need not split where 500 bytes do.
    for (std::size_t size = 0; size < 1100; ++size) {
        const std::string body(size, 'x');
        ASSERT_EQ(demo::wire_reply(body), body + "Ok") << size;
    }
}

} // namespace
