#include "socket_policy.h"

namespace tolvex::server {

// SO_REUSEADDR on Windows would let a second server take the port over;
// SO_EXCLUSIVEADDRUSE refuses it.
void ListenExclusively(socket_t sock) {
  const BOOL yes = TRUE;
  setsockopt(sock, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&yes),
             sizeof yes);
}

// The library hands out no socket, and Windows has no table of a
// process's descriptors to find it by its ends, so the 413 goes out
// undrained: a client still sending may see the connection reset (9)
// before it reads the refusal (90).
void DrainRefusedConnection(const httplib::Request&) {}

}  // namespace tolvex::server
