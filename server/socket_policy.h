// The socket-level policy of the server, which differs by platform.
#pragma once

#include <httplib.h>

namespace tolvex::server {

// Set on the listening socket: binding to a port another server holds
// fails instead of sharing it.
void ListenExclusively(socket_t sock);

// After a refusal sent before the body was read (413): lets the client
// see it before the connection closes.
void DrainRefusedConnection(const httplib::Request& request);

}  // namespace tolvex::server
