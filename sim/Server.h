// The simulator's event loop: the pty, the UDP socket, the console and the
// replies waiting for their time, all in one thread.
#pragma once

#include "Bus.h"
#include "Options.h"

namespace sim {

// Returns the process exit code.
int Serve(const Options& options, Bus& bus);

}  // namespace sim
