#pragma once

#include <string>

namespace net {

// The socket layer's one exception: a plain value carrying a fixed English
// message. Thrown by value, caught by reference; never carries a platform error code.
class SocketException {
  public:
    explicit SocketException(std::string message);
    SocketException(const SocketException& other) = default;

    std::string message() const;

  private:
    std::string message_;
};

} // namespace net
