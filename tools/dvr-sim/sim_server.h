// Network side of the simulated recorder: the listening socket on 127.0.0.1,
// the client table and the poll() loop.
#pragma once

#include <cstdint>

// Listens on 127.0.0.1:port (0 = any free port), prints the listening line
// and serves clients until SIGTERM or SIGINT. Returns the exit code.
int Server_Run(uint16_t port);
