// A one-connection HTTP listener on loopback that records the exact
// request bytes and answers with scripted bytes, optionally ending with a
// TCP reset instead of a clean close. It can take the request slowly, or
// stop taking it, the way a congested line looks to the client.
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
    // When set, the request is read this many bytes at a time, with
    // read_pause_ms before each piece, through a small receive window.
    std::size_t read_piece = 0;
    unsigned read_pause_ms = 0;
    // Reading stops for good after this many request bytes; the connection
    // is held, unanswered, until Release().
    std::size_t stop_reading_after = static_cast<std::size_t>(-1);
  };

  explicit RawListener(Script script);
  ~RawListener();
  RawListener(const RawListener&) = delete;
  RawListener& operator=(const RawListener&) = delete;

  std::uint16_t port() const { return port_; }
  // The request as received: head and body. Waits for the exchange.
  std::string Request();
  // Lets a listener that stopped reading close its connection.
  void Release();

 private:
  void Serve(Script script);

  int listen_fd_ = -1;
  int release_fds_[2] = {-1, -1};
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

// A port on loopback that nothing listens on: a connection to it is
// refused. It stays bound for the rest of the run, so that no server of a
// test running beside this one is given it meanwhile.
std::uint16_t UnusedPort();

}  // namespace tolvex::e2e
