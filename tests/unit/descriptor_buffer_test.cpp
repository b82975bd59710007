#include "client/descriptor_buffer.h"

#include "client/stop_policy.h"
#include "tests/unit/sigpipe_blocked.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

namespace {

// Pieces small and large through a pipe that is non-blocking (as a parent may
// leave it) and fills up: every byte arrives once and in order, and only when
// the buffer is written out.
TEST(DescriptorBuffer, WritesEveryByteInOrderAndOnlyWhenAsked) {
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    ASSERT_EQ(::fcntl(ends[1], F_SETFL, O_NONBLOCK), 0);
    cmdclient::StopPolicy policy(false);
    cmdclient::DescriptorBuffer buffer(64 << 10, policy);
    buffer.attach(ends[1]);
    std::string expected = "held";
    ASSERT_TRUE(buffer.append("held", 4));
    ASSERT_EQ(::fcntl(ends[0], F_SETFL, O_NONBLOCK), 0);
    char probe;
    EXPECT_EQ(::read(ends[0], &probe, 1), -1); // nothing written out yet
    ASSERT_EQ(::fcntl(ends[0], F_SETFL, 0), 0);

    std::string arrived;
    std::thread reader([&] {
        char piece[4096];
        ssize_t count;
        while ((count = ::read(ends[0], piece, sizeof piece)) > 0) {
            arrived.append(piece, static_cast<std::size_t>(count));
        }
    });
    for (int i = 0; i < 64; ++i) {
        const std::string piece(i % 2 == 0 ? 10 : 100000, static_cast<char>('a' + i % 26));
        if (!buffer.append(piece.data(), piece.size())) {
            ADD_FAILURE() << "piece " << i << " not written";
            break; // the reader must still be joined
        }
        expected += piece;
    }
    EXPECT_EQ(buffer.pubsync(), 0);
    ::close(ends[1]);
    reader.join();
    ::close(ends[0]);
    EXPECT_TRUE(arrived == expected) << arrived.size() << " bytes of " << expected.size();
}

TEST(DescriptorBuffer, AWriteErrorFailsIt) {
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    ::close(ends[0]);
    cmdclient::StopPolicy policy(false);
    cmdclient::DescriptorBuffer buffer(64 << 10, policy);
    buffer.attach(ends[1]);
    ASSERT_TRUE(buffer.append("x", 1));
    {
        const SigpipeBlocked quiet; // the reader has gone: EPIPE, not the end of the test
        EXPECT_EQ(buffer.pubsync(), -1);
    }
    EXPECT_EQ(buffer.error(), EPIPE); // kept for the message
    ::close(ends[1]);
}

} // namespace
