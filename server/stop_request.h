// The request to stop the server, waited for on a thread of its own so
// that stopping runs outside a signal or console handler: SIGINT or
// SIGTERM on POSIX; Ctrl-C, Ctrl-Break or the console closing on Windows.
#pragma once

namespace tolvex::server {

class StopRequest {
 public:
  // Before any other thread starts: on POSIX every thread inherits the
  // blocked signals from here.
  StopRequest();
  ~StopRequest();
  StopRequest(const StopRequest&) = delete;
  StopRequest& operator=(const StopRequest&) = delete;

  // Until a stop is requested or Release is called.
  void Wait();
  // Ends a Wait that no stop request ended.
  void Release();
};

}  // namespace tolvex::server
