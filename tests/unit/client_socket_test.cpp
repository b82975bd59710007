#include "net/client_socket.h"

#include "loopback_listener.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <string_view>
#include <thread>

#ifndef _WIN32
#include <csignal>
#include <dirent.h>
#include <pthread.h>
#endif

namespace {

using net::ClientSocket;
using net::SocketException;
using testing_support::LoopbackListener;
using namespace std::chrono_literals;

// Sends all of `text`, waiting whenever the connection takes nothing yet.
void write_all(ClientSocket& socket, std::string_view text) {
    while (!text.empty()) {
        const std::size_t sent = socket.write(text);
        text.remove_prefix(sent);
        if (sent == 0) {
            net::wait_for(socket.waitable(), net::Direction::writable, std::nullopt);
        }
    }
}

// Receives the next chunk, waiting while nothing has arrived.
void read_chunk(ClientSocket& socket, std::string& chunk) {
    while (!socket.read(chunk)) {
        net::wait_for(socket.waitable(), net::Direction::readable, std::nullopt);
    }
}

// Runs `action` and returns the message of the SocketException it throws.
template <typename Action> std::string thrown_message(Action&& action) {
    try {
        action();
    } catch (const SocketException& failure) {
        return failure.message();
    }
    return "<nothing thrown>";
}

TEST(ClientSocketConnect, ReachesListenerByAddressAndByLocalhost) {
    for (const char* host : {"127.0.0.1", "localhost"}) {
        LoopbackListener listener;
        std::promise<std::string> received;
        listener.serve([&](net::socket_handle peer) {
            received.set_value(testing_support::receive_exactly(peer, 5));
        });
        ClientSocket socket(host, listener.port());
        write_all(socket, "hello");
        EXPECT_EQ(received.get_future().get(), "hello") << host;
    }
}

TEST(ClientSocketConnect, PortAbove16BitsUsesItsLowBits) {
    LoopbackListener listener;
    listener.serve([](net::socket_handle) {});
    EXPECT_NO_THROW(ClientSocket("127.0.0.1", listener.port() + 65536));
}

TEST(ClientSocketConnect, RefusedPortThrowsWithTheReasonKept) {
    LoopbackListener bound_only(false);
    EXPECT_EQ(thrown_message([&] { ClientSocket("127.0.0.1", bound_only.port()); }),
              net::socket_message::could_not_connect);
    // Closing the half-built socket on the way out keeps the reason for the report.
#ifdef _WIN32
    EXPECT_EQ(net::last_socket_error(), WSAECONNREFUSED);
#else
    EXPECT_EQ(net::last_socket_error(), ECONNREFUSED);
#endif
}

TEST(ClientSocketConnect, UnconvertibleHostThrowsWithoutAttempt) {
    LoopbackListener listener;
    for (const char* host : {"example.org", "127.1", "", "localhost "}) {
        EXPECT_EQ(thrown_message([&] { ClientSocket(host, listener.port()); }),
                  net::socket_message::could_not_connect)
            << host;
    }
    EXPECT_FALSE(listener.connection_pending(100));
}

#ifdef __linux__
int open_descriptors() {
    int count = 0;
    if (DIR* dir = ::opendir("/proc/self/fd")) {
        while (::readdir(dir) != nullptr) {
            ++count;
        }
        ::closedir(dir);
    }
    return count;
}

TEST(ClientSocketConnect, FailedConstructionLeaksNoDescriptor) {
    LoopbackListener bound_only(false);
    const int before = open_descriptors();
    for (int i = 0; i < 20; ++i) {
        EXPECT_ANY_THROW(ClientSocket("127.0.0.1", bound_only.port()));
        EXPECT_ANY_THROW(ClientSocket("no-such-host", bound_only.port()));
    }
    EXPECT_EQ(open_descriptors(), before);
}
#endif

class ClientSocketRead : public testing::Test {
  protected:
    // Starts a server that sends `bytes`, then waits for `done` before closing.
    void serve(std::string bytes) {
        listener.serve([this, bytes](net::socket_handle peer) {
            testing_support::send_all(peer, bytes);
            sent.set_value();
            done.get_future().wait();
        });
        socket = std::make_unique<ClientSocket>("127.0.0.1", listener.port());
        sent.get_future().wait();
        std::this_thread::sleep_for(50ms); // let every byte reach the client's queue
    }
    void TearDown() override {
        done.set_value();
        listener.join();
    }

    LoopbackListener listener;
    std::promise<void> sent;
    std::promise<void> done;
    std::unique_ptr<ClientSocket> socket;
};

TEST_F(ClientSocketRead, DeliversAtMost500BytesPerRead) {
    std::string reply(1234, 'a');
    for (std::size_t i = 0; i < reply.size(); ++i) {
        reply[i] = static_cast<char>('a' + i % 26);
    }
    serve(reply);
    std::string chunk;
    std::string joined;
    read_chunk(*socket, chunk);
    EXPECT_EQ(chunk.size(), 500u);
    joined += chunk;
    while (joined.size() < reply.size()) {
        read_chunk(*socket, chunk);
        EXPECT_LE(chunk.size(), 500u);
        joined += chunk;
    }
    EXPECT_EQ(joined, reply);
}

TEST_F(ClientSocketRead, TextEndsAtFirstZeroByte) {
    serve(std::string("AB\0CD", 5));
    std::string chunk = "stale";
    read_chunk(*socket, chunk);
    EXPECT_EQ(chunk, "AB");
}

TEST_F(ClientSocketRead, LeadingZeroByteGivesEmptyTextNotFailure) {
    serve(std::string("\0xyz", 4));
    std::string chunk = "stale";
    EXPECT_NO_THROW(read_chunk(*socket, chunk));
    EXPECT_EQ(chunk, "");
}

TEST(ClientSocketEnd, OrderlyCloseThrowsWithoutDiagnostic) {
    LoopbackListener listener;
    listener.serve([](net::socket_handle) {});
    ClientSocket socket("127.0.0.1", listener.port());
    listener.join();
    std::string chunk = "stale";
    testing::internal::CaptureStdout();
    EXPECT_EQ(thrown_message([&] { read_chunk(socket, chunk); }), net::socket_message::could_not_read);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(chunk, "");
}

#ifndef _WIN32
TEST(ClientSocketEnd, ResetThrowsWithTheReasonKept) {
    LoopbackListener listener;
    listener.serve([](net::socket_handle peer) { testing_support::reset_on_close(peer); });
    ClientSocket socket("127.0.0.1", listener.port());
    listener.join();
    std::string chunk;
    EXPECT_EQ(thrown_message([&] { read_chunk(socket, chunk); }), net::socket_message::could_not_read);
    EXPECT_EQ(net::last_socket_error(), ECONNRESET);
}

TEST(ClientSocketEnd, WriteToClosedConnectionThrowsInsteadOfEndingProcess) {
    LoopbackListener listener;
    listener.serve([](net::socket_handle peer) { testing_support::reset_on_close(peer); });
    ClientSocket socket("127.0.0.1", listener.port());
    listener.join();
    std::this_thread::sleep_for(50ms);
    // The first write may still be accepted locally (while the reset is on its
    // way, which under load can take a while); a later one must fail.
    std::string message;
    for (int attempt = 0; attempt < 500 && message.empty(); ++attempt) {
        try {
            write_all(socket, "status");
        } catch (const SocketException& failure) {
            message = failure.message();
        }
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(message, net::socket_message::could_not_write);
}

// After an orderly close the first write only draws a reset from the server;
// the write that meets the reset fails with it, and every write after that
// meets a connection shut for sending, where the system raises SIGPIPE unless
// the send asks it not to. Each must fail with an exception instead.
TEST(ClientSocketEnd, WritesAfterOrderlyCloseKeepFailingInsteadOfEndingProcess) {
    LoopbackListener listener;
    // Reads what was sent, so that its close is orderly rather than a reset.
    listener.serve([](net::socket_handle peer) { testing_support::receive_exactly(peer, 5); });
    ClientSocket socket("127.0.0.1", listener.port());
    write_all(socket, "hello");
    listener.join();
    std::string chunk;
    EXPECT_EQ(thrown_message([&] { read_chunk(socket, chunk); }), net::socket_message::could_not_read)
        << "the orderly close did not arrive";
    int failures = 0;
    for (int attempt = 0; attempt < 5000 && failures < 2; ++attempt) {
        const std::string message = thrown_message([&] { write_all(socket, "status"); });
        if (message == net::socket_message::could_not_write) {
            ++failures;
        } else if (failures > 0) {
            FAIL() << "a write after a failed one: " << message;
        } else {
            std::this_thread::sleep_for(1ms); // the reset is on its way
        }
    }
    EXPECT_EQ(failures, 2) << "writes kept succeeding after the server had closed";
}

// Signals that interrupt blocking calls; installed without automatic restart,
// so the socket layer itself has to carry on.
class InterruptedCalls : public testing::Test {
  protected:
    void SetUp() override {
        struct sigaction action {};
        action.sa_handler = [](int) {};
        sigemptyset(&action.sa_mask);
        action.sa_flags = 0;
        sigaction(SIGUSR1, &action, &previous);
    }
    void TearDown() override { sigaction(SIGUSR1, &previous, nullptr); }

    // Interrupts the calling thread every few milliseconds until `stop` is set.
    std::thread interrupter(std::atomic<bool>& stop) {
        const pthread_t target = pthread_self();
        return std::thread([target, &stop] {
            while (!stop) {
                std::this_thread::sleep_for(5ms);
                pthread_kill(target, SIGUSR1);
            }
        });
    }

    struct sigaction previous {};
};

TEST_F(InterruptedCalls, ReadWaitsOnThroughSignals) {
    LoopbackListener listener;
    listener.serve([](net::socket_handle peer) {
        std::this_thread::sleep_for(200ms);
        testing_support::send_all(peer, "A=1F\nOk");
    });
    ClientSocket socket("127.0.0.1", listener.port());
    std::atomic<bool> stop{false};
    std::thread signals = interrupter(stop);
    std::string chunk;
    EXPECT_NO_THROW(read_chunk(socket, chunk));
    stop = true;
    signals.join();
    EXPECT_EQ(chunk, "A=1F\nOk");
}

TEST_F(InterruptedCalls, WriteDeliversEveryByteThroughShortSends) {
    // Far more than the socket buffers hold, so the sender blocks, gets
    // interrupted part-way and must continue where the short send stopped.
    std::string command(16 << 20, '\0');
    for (std::size_t i = 0; i < command.size(); ++i) {
        command[i] = static_cast<char>('0' + i % 71);
    }
    LoopbackListener listener;
    std::promise<std::string> received;
    listener.serve([&](net::socket_handle peer) {
        std::this_thread::sleep_for(100ms);
        received.set_value(testing_support::receive_exactly(peer, command.size()));
    });
    ClientSocket socket("127.0.0.1", listener.port());
    std::atomic<bool> stop{false};
    std::thread signals = interrupter(stop);
    EXPECT_NO_THROW(write_all(socket, command));
    stop = true;
    signals.join();
    const std::string arrived = received.get_future().get();
    EXPECT_EQ(arrived.size(), command.size());
    EXPECT_TRUE(arrived == command);
}

#ifdef __linux__
TEST_F(InterruptedCalls, ConnectWaitsForItsOutcome) {
    // A listener whose queue is full drops the next handshake, so the connect
    // waits for its retransmission (a second or more): long enough to be
    // interrupted. Room is made afterwards, and the connect must then succeed.
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 0), 0);
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    const int port = ntohs(address.sin_port);
    ClientSocket queued("127.0.0.1", port); // fills the queue

    std::atomic<bool> stop{false};
    std::thread signals = interrupter(stop);
    std::thread make_room([&] {
        std::this_thread::sleep_for(300ms); // signals keep arriving meanwhile
        ::close(::accept(listener, nullptr, nullptr));
    });
    EXPECT_NO_THROW(ClientSocket("127.0.0.1", port));
    stop = true;
    signals.join();
    make_room.join();
    ::close(listener);
}

TEST(ClientSocketConnect, ConnectionProbesAnIdlePeer) {
    LoopbackListener listener;
    listener.serve([](net::socket_handle) {});
    ClientSocket socket("127.0.0.1", listener.port());
    // Find our end of the connection among the open descriptors.
    int found = -1;
    for (int fd = 3; fd < 1024 && found < 0; ++fd) {
        sockaddr_in peer{};
        socklen_t length = sizeof peer;
        if (::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length) == 0 &&
            ntohs(peer.sin_port) == listener.port()) {
            found = fd;
        }
    }
    ASSERT_GE(found, 0);
    const auto option = [found](int level, int name) {
        int value = 0;
        socklen_t length = sizeof value;
        ::getsockopt(found, level, name, &value, &length);
        return value;
    };
    EXPECT_EQ(option(SOL_SOCKET, SO_KEEPALIVE), 1);
    // A vanished host is noticed in about two minutes: 60 s idle, 6 probes 10 s apart.
    EXPECT_EQ(option(IPPROTO_TCP, TCP_KEEPIDLE), 60);
    EXPECT_EQ(option(IPPROTO_TCP, TCP_KEEPINTVL), 10);
    EXPECT_EQ(option(IPPROTO_TCP, TCP_KEEPCNT), 6);
    // Data never acknowledged is given up on after as long.
    EXPECT_EQ(option(IPPROTO_TCP, TCP_USER_TIMEOUT), 120000);
}
#endif
#endif

} // namespace
