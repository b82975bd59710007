#include "client/server_address.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace {

using cmdclient::Family;

// A host text, how it is read, and what comes of it. None of these texts is
// ever asked of a name server: each is refused or converted before, or is an
// address in brackets (read as an address alone).
struct HostCase {
    const char* host;
    bool lookup;
    Family family;
    std::vector<std::string> candidates; // their texts, in order
    std::string problem;
};

void PrintTo(const HostCase& c, std::ostream* out) {
    *out << '"' << c.host << "\" lookup " << c.lookup;
}

constexpr const char* bad =
    "is not a name, an IPv6 address or an IPv4 address of four decimal numbers from 0 to 255";

std::string said(const char* host, const char* why) {
    return std::string("'") + host + "' " + why;
}

class ServerAddressOf : public testing::TestWithParam<HostCase> {};

TEST_P(ServerAddressOf, GivesCandidatesOrAProblem) {
    const HostCase& c = GetParam();
    cmdclient::Options options;
    options.host = c.host;
    options.port = 5000;
    if (c.lookup) {
        options.lookup = {c.family == Family::ipv4   ? "-4"
                          : c.family == Family::ipv6 ? "-6"
                                                     : "--lookup"};
    }
    const cmdclient::ServerAddress address = cmdclient::server_address(options);
    std::vector<std::string> texts;
    for (const auto& candidate : address.candidates) {
        texts.push_back(candidate.text());
    }
    EXPECT_EQ(texts, c.candidates);
    EXPECT_EQ(address.problem, c.problem);
    EXPECT_EQ(address.named_by_address, c.lookup);
    EXPECT_FALSE(address.again);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ServerAddressOf,
    testing::Values(
        HostCase{"127.0.0.1", false, Family::any, {"127.0.0.1 port 5000"}, ""},
        HostCase{"lab-board",
                 false,
                 Family::any,
                 {},
                 "'lab-board' is not an IPv4 address or localhost (names are looked up only "
                 "with --lookup)"},
        HostCase{
            "::1", false, Family::any, {}, "'::1' is an IPv6 address (used only with --lookup)"},
        HostCase{"[fe80::1%eth0]",
                 false,
                 Family::any,
                 {},
                 "'[fe80::1%eth0]' is an IPv6 address (used only with --lookup)"},
        HostCase{"-x",
                 false,
                 Family::any,
                 {},
                 "'-x' is not an option or an IPv4 address (see cmdclient --help)"},
        // Digits and dots, and what the system reads as an IPv4 address, are never looked up.
        HostCase{"10.0.0.7", true, Family::any, {"10.0.0.7 port 5000"}, ""},
        HostCase{"010.0.0.7", true, Family::any, {}, said("010.0.0.7", bad)},
        HostCase{"127.1", true, Family::any, {}, said("127.1", bad)},
        HostCase{"0x7f000001", true, Family::any, {}, said("0x7f000001", bad)},
        HostCase{"", true, Family::any, {}, said("", bad)},
        HostCase{"[::1", true, Family::any, {}, said("[::1", bad)},
        HostCase{"[]", true, Family::any, {}, said("[]", bad)},
        HostCase{"[board]", true, Family::any, {}, said("[board]", bad)},
        HostCase{"[10.0.0.7]", true, Family::any, {}, said("[10.0.0.7]", bad)},
        HostCase{"[::1]", true, Family::any, {"::1 port 5000"}, ""},
        HostCase{"[::1]", true, Family::ipv4, {}, "'[::1]' has no IPv4 address (-4)"},
        HostCase{"10.0.0.7", true, Family::ipv6, {}, "'10.0.0.7' has no IPv6 address (-6)"}));

} // namespace
