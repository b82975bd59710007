#include "client/descriptor_buffer.h"

#include <gtest/gtest.h>

#include <csignal>
#include <ostream>
#include <string>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

namespace {

// Everything that arrives at the reading end until the writer closes it.
std::string drain(int fd) {
    std::string all;
    char piece[4096];
    ssize_t count;
    while ((count = ::read(fd, piece, sizeof piece)) > 0) {
        all.append(piece, static_cast<std::size_t>(count));
    }
    return all;
}

class DescriptorBufferTest : public testing::Test {
  protected:
    void SetUp() override {
        std::signal(SIGPIPE, SIG_IGN);
        ASSERT_EQ(::pipe(ends_), 0);
    }
    void TearDown() override {
        for (int fd : ends_) {
            if (fd >= 0) {
                ::close(fd);
            }
        }
    }
    void close_end(int which) {
        ::close(ends_[which]);
        ends_[which] = -1;
    }
    int ends_[2] = {-1, -1};
};

// Pieces small and large, through a full pipe that is non-blocking (as a
// parent may leave it): all arrive once, in order, and only when written out.
TEST_F(DescriptorBufferTest, WritesEveryByteInOrderAndOnlyWhenAsked) {
    ASSERT_EQ(::fcntl(ends_[1], F_SETFL, O_NONBLOCK), 0);
    std::string expected;
    {
        cmdclient::DescriptorBuffer buffer(ends_[1]);
        ASSERT_TRUE(buffer.append("held", 4));
        ASSERT_EQ(::fcntl(ends_[0], F_SETFL, O_NONBLOCK), 0);
        char probe;
        EXPECT_EQ(::read(ends_[0], &probe, 1), -1); // nothing written out yet
        ASSERT_EQ(::fcntl(ends_[0], F_SETFL, 0), 0);
        expected = "held";
        std::string reader_saw;
        std::thread reader([&] { reader_saw = drain(ends_[0]); });
        for (int i = 0; i < 64; ++i) {
            const std::string piece(i % 2 == 0 ? 10 : 100000, static_cast<char>('a' + i % 26));
            ASSERT_TRUE(buffer.append(piece.data(), piece.size()));
            expected += piece;
        }
        EXPECT_EQ(buffer.pubsync(), 0);
        close_end(1);
        reader.join();
        EXPECT_EQ(reader_saw.size(), expected.size());
        EXPECT_TRUE(reader_saw == expected);
    }
}

TEST_F(DescriptorBufferTest, AWriteErrorFailsTheBuffer) {
    close_end(0);
    cmdclient::DescriptorBuffer buffer(ends_[1]);
    ASSERT_TRUE(buffer.append("x", 1));
    EXPECT_EQ(buffer.pubsync(), -1);
}

} // namespace
