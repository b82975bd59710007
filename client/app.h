#pragma once

namespace cmdclient {

// The whole client run: reads the command line, connects to the server, runs the
// console until it ends and returns the process's exit status.
int run(int argc, char* argv[]);

} // namespace cmdclient
