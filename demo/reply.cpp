#include "demo/reply.h"

namespace demo {

std::string wire_reply(std::string body) {
    if (body != "Syntax error") {
        body += "Ok";
    }
    return body;
}

} // namespace demo
