#pragma once

#include <string>
#include <utility>

namespace net {

// The socket layer's one exception: a plain value carrying a fixed English
// message. Thrown by value, caught by reference; never carries a platform error code.
class SocketException {
  public:
    explicit SocketException(std::string message) : message_(std::move(message)) {}
    SocketException(const SocketException& other) = default;

    std::string message() const { return message_; }

  private:
    std::string message_;
};

} // namespace net
