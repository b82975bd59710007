#include "net/address.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <ostream>
#include <string>

namespace {

// Sentinel that no valid case produces, to prove `out` is left alone on failure.
constexpr std::uint32_t untouched = 0xDEADBEEF;

struct Accepted {
    const char* text;
    std::uint8_t bytes[4];
};

void PrintTo(const Accepted& accepted, std::ostream* out) {
    *out << '"' << accepted.text << '"';
}

class AcceptedAddress : public testing::TestWithParam<Accepted> {};

TEST_P(AcceptedAddress, StoresFourBytesInNetworkOrder) {
    in_addr out{};
    out.s_addr = untouched;
    ASSERT_EQ(net::text_to_address(net::ipv4_family, GetParam().text, &out), 1);
    const auto* stored = reinterpret_cast<const std::uint8_t*>(&out.s_addr);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(stored[i], GetParam().bytes[i]) << "byte " << i;
    }
    // The verdict does not depend on having somewhere to store the address.
    EXPECT_EQ(net::parse_dotted_quad(GetParam().text, nullptr), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, AcceptedAddress,
    testing::Values(Accepted{"localhost", {127, 0, 0, 1}}, Accepted{"1.2.3.4", {1, 2, 3, 4}},
                    Accepted{"0.0.0.0", {0, 0, 0, 0}},
                    Accepted{"255.255.255.255", {255, 255, 255, 255}},
                    Accepted{"1.2.3.4 ", {1, 2, 3, 4}}, Accepted{"1.2.3.4 junk", {1, 2, 3, 4}},
                    Accepted{"1.2.3.4\t", {1, 2, 3, 4}}, Accepted{"1.2.3.4\r\n", {1, 2, 3, 4}},
                    Accepted{"09.2.3.4", {9, 2, 3, 4}}, Accepted{"099.1.1.1", {99, 1, 1, 1}},
                    Accepted{"1.0.0.09", {1, 0, 0, 9}}, Accepted{"0.2.3.4", {0, 2, 3, 4}},
                    Accepted{"10.200.30.255", {10, 200, 30, 255}}));

class RejectedAddress : public testing::TestWithParam<std::string> {};

TEST_P(RejectedAddress, ReturnsZeroAndLeavesOutAlone) {
    in_addr out{};
    out.s_addr = untouched;
    errno = 0;
    EXPECT_EQ(net::text_to_address(net::ipv4_family, GetParam().c_str(), &out), 0);
    EXPECT_EQ(out.s_addr, untouched);
    EXPECT_EQ(errno, 0) << "a malformed text sets no error number";
}

INSTANTIATE_TEST_SUITE_P(OutOfRange, RejectedAddress,
                         testing::Values("256.1.1.1", "1.2.3.256", "0912.1.1.1", "1.2.3.1000"));
INSTANTIATE_TEST_SUITE_P(WrongComponentCount, RejectedAddress,
                         testing::Values("1.2.3", "1.2", "1", "1.2.3.4.5", "127.1", "10.1.2"));
INSTANTIATE_TEST_SUITE_P(BadPunctuation, RejectedAddress,
                         testing::Values("1..2.3", "1.2.3.", ".1.2.3", " 1.2.3.4", "1.2.3.4junk",
                                         "1.2.3.4.", "1.2.3.-4", "1,2,3,4", ""));
INSTANTIATE_TEST_SUITE_P(OctalAndHex, RejectedAddress,
                         testing::Values("01.2.3.4", "00.2.3.4", "08.2.3.4", "0x1.2.3.4",
                                         "0X1F.2.3.4", "1.2.3.07", "0x7f000001", "017700000001"));
INSTANTIATE_TEST_SUITE_P(NamesOtherThanLocalhost, RejectedAddress,
                         testing::Values("LOCALHOST", "localhost ", "localhost.", "example"));
// Digit runs beyond 32 bits must not wrap around into a small, valid component.
INSTANTIATE_TEST_SUITE_P(Overflowing, RejectedAddress,
                         testing::Values("4294967297.1.1.1", "1.1.1.4294967296",
                                         "1.1.1.99999999999999999999999999999"));

TEST(AddressFamily, OtherThanIpv4IsUnsupported) {
    in_addr out{};
    out.s_addr = untouched;
    errno = 0;
    EXPECT_EQ(net::text_to_address(10, "1.2.3.4", &out), -1);
    EXPECT_EQ(errno, net::unsupported_family_error);
    EXPECT_EQ(out.s_addr, untouched);
}

} // namespace
