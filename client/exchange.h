#pragma once

#include "client/reply_relay.h"
#include "net/client_socket.h"

#include <fstream>
#include <string>

namespace cmdclient {

// Gives the redirect file stream a large buffer of its own, so that long replies
// reach the disk in few writes. Call once, before the stream is first opened; the
// buffer serves every later open.
void use_large_buffer(std::ofstream& file);

// One command's round trip: sends `command` once (a failed send is not retried,
// and the reply is still awaited), then relays the reply to the console or, when
// `target` is not "stdout", into the file of that name, replaced afresh. Leaves
// the next prompt on the console. A redirect file that cannot be opened or
// written is reported on standard error; its text is lost but the reply is still
// consumed. `reply` holds the last chunk's text, "Ok" once the reply has ended.
// Returns connection_lost when the server can no longer be read.
ReplyEnd exchange(net::ClientSocket& socket, std::ofstream& file, const std::string& command,
                  const std::string& target, std::string& reply);

} // namespace cmdclient
