// Network side of the simulated recorder: the listening socket on 127.0.0.1,
// the client table and the poll() loop.
#pragma once

#include <cstdint>

// The TCP segment size the recorder's connections use, as on the Ethernet
// link a recorder sits on (1460); 0 keeps the loopback's own (about 64 KB).
constexpr uint32_t kEthernetSegment = 1460;

// Listens on 127.0.0.1:port (0 = any free port) with that segment size,
// prints the listening line and serves clients until SIGTERM or SIGINT.
// Returns the exit code.
int Server_Run(uint16_t port, uint32_t segment);
