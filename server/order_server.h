// The HTTP side of tolvex-server: routes the servlets, applies the
// misbehaviour switches and logs one line per request.
#pragma once

#include <httplib.h>

#include <condition_variable>
#include <memory>
#include <mutex>

#include "order_store.h"
#include "server_options.h"

namespace tolvex::server {

class OrderServer {
 public:
  explicit OrderServer(ServerOptions options);

  // Binds; returns the port (the chosen one for port 0) or -1.
  int Bind();
  bool Secure() const { return !options_.tls_cert.empty(); }
  // False when the TLS files could not be loaded.
  bool Valid() const { return http_->is_valid(); }
  // Serves until Stop.
  bool Run();
  // Safe from any thread: ends Run and releases requests held on purpose.
  void Stop();

 private:
  void Handle(const httplib::Request& request, httplib::Response& response,
              const httplib::ContentReader& content);
  // Refuses at once a body announced over the limit, before it is read.
  httplib::Server::HandlerResponse RefuseOversized(const httplib::Request& request,
                                                   httplib::Response& response);
  // Waits up to `ms` (forever for nullopt); false when the server stops.
  bool Wait(std::optional<std::size_t> ms);

  ServerOptions options_;
  OrderStore store_;
  std::unique_ptr<httplib::Server> http_;
  std::mutex stop_mutex_;
  std::condition_variable stop_signal_;
  bool stopping_ = false;
};

}  // namespace tolvex::server
