// A post of a body held whole whose reply is collected whole, as the
// tests of the exchange make it: ResponseBytes is reset only once the
// send has succeeded.
#pragma once

#include "net/post_request.h"

namespace tolvex::testing {

inline bool PostWhole(HttpSession& http, const ServerAddress& address, StatusDisplay& display,
                      const Bytes& body, Bytes& ResponseBytes, Trace& trace = DiscardingTrace()) {
  BytesBody whole(body);
  ReplyCollector reply(ResponseBytes);
  return PostRequest(http, address, display, whole, reply, trace);
}

}  // namespace tolvex::testing
