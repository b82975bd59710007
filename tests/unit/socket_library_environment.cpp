// Starts the platform's socket library once for the whole test program, as the
// client does at start-up (Windows Sockets needs it before any socket call).
#include "net/platform.h"

#include <gtest/gtest.h>

namespace {

class SocketLibrary : public testing::Environment {
  public:
    void SetUp() override { ASSERT_TRUE(net::start_socket_library()); }
};

testing::Environment* const socket_library = testing::AddGlobalTestEnvironment(new SocketLibrary);

} // namespace
