#include "net/socket_exception.h"

#include <utility>

namespace net {

SocketException::SocketException(std::string message) : message_(std::move(message)) {}

std::string SocketException::message() const {
    return message_;
}

} // namespace net
