// A one-connection HTTP listener on loopback that records the exact
// request bytes and answers with scripted bytes, optionally ending with a
// TCP reset instead of a clean close.
#pragma once

#include <cstdint>
#include <future>
#include <string>
#include <thread>
#include <vector>

namespace tolvex::e2e {

class RawListener {
 public:
  struct Script {
    std::string reply;
    bool reset = false;  // abort the connection after the reply bytes
  };

  explicit RawListener(Script script);
  ~RawListener();
  RawListener(const RawListener&) = delete;
  RawListener& operator=(const RawListener&) = delete;

  std::uint16_t port() const { return port_; }
  // The request as received: head and body. Waits for the exchange.
  std::string Request();

 private:
  void Serve(Script script);

  int listen_fd_ = -1;
  std::uint16_t port_ = 0;
  std::promise<std::string> request_;
  std::future<std::string> request_future_;
  std::thread thread_;
};

// The head of a recorded request split into its request line and header
// lines, and its body.
struct ParsedRequest {
  std::string request_line;
  std::vector<std::string> header_lines;
  std::string body;
};
ParsedRequest ParseRequest(const std::string& raw);

// A port on loopback that nothing listens on.
std::uint16_t UnusedPort();

}  // namespace tolvex::e2e
