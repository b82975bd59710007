#include "client/line_source.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <future>
#include <string>
#include <thread>
#include <utility>

#include <pthread.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

// A signal that is not a stop signal cuts a wait short (no automatic
// restart), as a terminal's or a debugger's signals do.
class Interrupted : public testing::Test {
  protected:
    void SetUp() override {
        struct sigaction action {};
        action.sa_handler = [](int) {};
        sigemptyset(&action.sa_mask);
        sigaction(SIGUSR1, &action, &previous_);
        ASSERT_EQ(::pipe(fds_), 0);
    }
    void TearDown() override {
        ::close(fds_[0]);
        ::close(fds_[1]);
        sigaction(SIGUSR1, &previous_, nullptr);
    }

    int fds_[2] = {-1, -1};
    struct sigaction previous_ {};
};

TEST_F(Interrupted, ALineReadInPartStaysWhole) {
    std::promise<std::pair<cmdclient::LineRead, std::string>> read;
    std::thread reader([&] {
        cmdclient::DescriptorLineSource lines(fds_[0]);
        std::string line;
        const cmdclient::LineRead result = lines.read(line);
        read.set_value({result, line});
    });
    ASSERT_EQ(::write(fds_[1], "reg", 3), 3);
    // The reader holds "reg" and waits for the rest: signals land in that wait.
    for (int i = 0; i < 20; ++i) {
        std::this_thread::sleep_for(2ms);
        pthread_kill(reader.native_handle(), SIGUSR1);
    }
    ASSERT_EQ(::write(fds_[1], "s\n", 2), 2);
    auto outcome = read.get_future();
    ASSERT_EQ(outcome.wait_for(10s), std::future_status::ready);
    reader.join();
    const auto [result, line] = outcome.get();
    EXPECT_EQ(result, cmdclient::LineRead::line);
    EXPECT_EQ(line, "regs");
}

} // namespace
