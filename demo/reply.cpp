#include "demo/reply.h"

namespace demo {

std::string wire_reply(std::string body) {
    if (body == "Syntax error") {
        return body;
    }
    if ((body.size() + 2) % client_receive_size == 1) {
        body += '\n';
    }
    return body + "Ok";
}

} // namespace demo
