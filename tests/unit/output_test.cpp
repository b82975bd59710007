#include "client/output.h"

#include "tests/unit/sigpipe_blocked.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <string>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

namespace {

class Pipe : public testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(::pipe(ends_), 0); }
    void TearDown() override {
        ::close(ends_[0]);
        ::close(ends_[1]);
    }
    // Everything the pipe holds now.
    std::string drain() {
        ::fcntl(ends_[0], F_SETFL, O_NONBLOCK);
        std::string text;
        char piece[4096];
        for (ssize_t count; (count = ::read(ends_[0], piece, sizeof piece)) > 0;) {
            text.append(piece, static_cast<std::size_t>(count));
        }
        return text;
    }
    int ends_[2] = {-1, -1};
};

// Pieces small and large through a pipe that is non-blocking (as a parent may
// leave it) and fills up: every byte arrives once and in order, and only when
// the buffer is full or flushed.
TEST_F(Pipe, WritesEveryByteInOrderAndOnlyWhenAsked) {
    ASSERT_EQ(::fcntl(ends_[1], F_SETFL, O_NONBLOCK), 0);
    cmdclient::Output output("standard output", 64 << 10, ends_[1]);
    std::string expected = "held";
    output.write(expected);
    EXPECT_EQ(drain(), ""); // nothing written out yet
    ASSERT_EQ(::fcntl(ends_[0], F_SETFL, 0), 0);

    std::string arrived;
    std::thread reader([&] {
        char piece[4096];
        ssize_t count;
        while ((count = ::read(ends_[0], piece, sizeof piece)) > 0) {
            arrived.append(piece, static_cast<std::size_t>(count));
        }
    });
    for (int i = 0; i < 64; ++i) {
        const std::string piece(i % 2 == 0 ? 10 : 100000, static_cast<char>('a' + i % 26));
        output.write(piece);
        expected += piece;
    }
    EXPECT_TRUE(output.flush());
    ::close(ends_[1]);
    ends_[1] = -1;
    reader.join();
    EXPECT_TRUE(arrived == expected) << arrived.size() << " bytes of " << expected.size();
}

// A write error fails it for good, and is told once, with the output's name.
TEST_F(Pipe, AWriteErrorIsReportedOnce) {
    ::close(ends_[0]);
    ends_[0] = -1;
    cmdclient::Output output("reply file 'x'", 64 << 10, ends_[1]);
    output.write("x");
    {
        const SigpipeBlocked blocked;
        EXPECT_FALSE(output.flush());
    }
    EXPECT_EQ(output.error(), EPIPE);
    EXPECT_EQ(output.take_failure(), "cannot write reply file 'x': Broken pipe");
    EXPECT_EQ(output.take_failure(), "");
}

// A stop signal while the reader does not read ends the wait, and what was
// not written yet stays held for the run's owner to write out or give up on.
TEST_F(Pipe, AStopSignalEndsTheWaitAndKeepsTheBytes) {
    ASSERT_EQ(::fcntl(ends_[1], F_SETFL, O_NONBLOCK), 0);
    std::string filler(4096, 'f');
    std::size_t full = 0;
    for (ssize_t count; (count = ::write(ends_[1], filler.data(), filler.size())) > 0;) {
        full += static_cast<std::size_t>(count);
    }
    cmdclient::Output output("standard output", 64 << 10, ends_[1]);
    output.write("kept");
    net::catch_stop_signals();
    std::raise(SIGTERM);
    EXPECT_FALSE(output.flush());
    EXPECT_EQ(net::take_stop_signal(), SIGTERM);
    EXPECT_EQ(output.error(), 0);
    EXPECT_EQ(drain().size(), full);
    EXPECT_TRUE(output.flush());
    EXPECT_EQ(drain(), "kept");
}

} // namespace
