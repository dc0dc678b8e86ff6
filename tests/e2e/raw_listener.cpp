#include "raw_listener.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <strings.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <stdexcept>
#include <vector>

namespace tolvex::e2e {
namespace {

constexpr int kTimeoutMs = 10000;

int BoundSocket(std::uint16_t& port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) throw std::runtime_error("socket");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    close(fd);
    throw std::runtime_error("bind");
  }
  port = ntohs(address.sin_port);
  return fd;
}

bool WaitReadable(int fd) {
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, kTimeoutMs) == 1;
}

std::size_t ContentLength(const std::string& head) {
  std::size_t at = 0;
  while ((at = head.find("\r\n", at)) != std::string::npos) {
    at += 2;
    if (strncasecmp(head.c_str() + at, "Content-Length:", 15) == 0) {
      return std::strtoul(head.c_str() + at + 15, nullptr, 10);
    }
  }
  return 0;
}

}  // namespace

RawListener::RawListener(Script script) : request_future_(request_.get_future()) {
  listen_fd_ = BoundSocket(port_);
  if (pipe(release_fds_) != 0) throw std::runtime_error("pipe");
  if (script.read_piece > 0 || script.stop_reading_after != static_cast<std::size_t>(-1)) {
    // Inherited by the accepted socket: the client meets a small window.
    const int size = 16 * 1024;
    setsockopt(listen_fd_, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
  }
  if (listen(listen_fd_, 4) != 0) throw std::runtime_error("listen");
  thread_ = std::thread(&RawListener::Serve, this, std::move(script));
}

RawListener::~RawListener() {
  Release();
  thread_.join();
  close(listen_fd_);
  for (const int fd : release_fds_) close(fd);
}

void RawListener::Release() {
  const char byte = 1;
  (void)!write(release_fds_[1], &byte, 1);
}

std::string RawListener::Request() {
  if (request_future_.wait_for(std::chrono::milliseconds(kTimeoutMs * 2)) !=
      std::future_status::ready) {
    return "(no request)";
  }
  return request_future_.get();
}

void RawListener::Serve(Script script) {
  std::string received;
  if (!WaitReadable(listen_fd_)) {
    request_.set_value("(no connection)");
    return;
  }
  const int fd = accept(listen_fd_, nullptr, nullptr);
  if (fd < 0) {
    request_.set_value("(accept failed)");
    return;
  }
  char buffer[65536];
  std::size_t wanted = std::string::npos;
  std::size_t budget = script.read_piece > 0 ? script.read_piece : sizeof buffer;
  while (received.size() < wanted) {
    if (received.size() >= script.stop_reading_after) {
      pollfd released{release_fds_[0], POLLIN, 0};
      poll(&released, 1, 6 * kTimeoutMs);
      request_.set_value(received);
      close(fd);
      return;
    }
    if (budget == 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(script.read_pause_ms));
      budget = script.read_piece;
    }
    if (!WaitReadable(fd)) break;
    const std::size_t ask =
        std::min({sizeof buffer, budget, script.stop_reading_after - received.size()});
    const ssize_t n = recv(fd, buffer, ask, 0);
    if (n <= 0) break;
    if (script.read_piece > 0) budget -= static_cast<std::size_t>(n);
    received.append(buffer, static_cast<std::size_t>(n));
    const auto head_end = received.find("\r\n\r\n");
    if (head_end != std::string::npos && wanted == std::string::npos) {
      wanted = head_end + 4 + ContentLength(received.substr(0, head_end + 2));
    }
  }
  request_.set_value(received);

  std::size_t sent = 0;
  while (sent < script.reply.size()) {
    const ssize_t n =
        send(fd, script.reply.data() + sent, script.reply.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) break;
    sent += static_cast<std::size_t>(n);
  }
  if (script.reset) {
    linger abort_on_close{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort_on_close, sizeof abort_on_close);
  } else {
    shutdown(fd, SHUT_WR);
  }
  close(fd);
}

ParsedRequest ParseRequest(const std::string& raw) {
  ParsedRequest parsed;
  const auto head_end = raw.find("\r\n\r\n");
  const std::string head = raw.substr(0, head_end);
  std::size_t at = 0;
  std::vector<std::string> lines;
  while (at <= head.size()) {
    const auto eol = head.find("\r\n", at);
    lines.push_back(head.substr(at, eol == std::string::npos ? std::string::npos : eol - at));
    if (eol == std::string::npos) break;
    at = eol + 2;
  }
  parsed.request_line = lines.empty() ? "" : lines.front();
  if (!lines.empty()) parsed.header_lines.assign(lines.begin() + 1, lines.end());
  if (head_end != std::string::npos) parsed.body = raw.substr(head_end + 4);
  return parsed;
}

std::uint16_t UnusedPort() {
  // Closed when the process ends; kept from the programs a test starts.
  class HeldSocket {
   public:
    explicit HeldSocket(int fd) : fd_(fd) { fcntl(fd_, F_SETFD, FD_CLOEXEC); }
    ~HeldSocket() { close(fd_); }
    HeldSocket(const HeldSocket&) = delete;
    HeldSocket& operator=(const HeldSocket&) = delete;

   private:
    int fd_;
  };
  static std::mutex mutex;
  static std::deque<HeldSocket> held;  // never moves what it holds
  std::uint16_t port = 0;
  const int fd = BoundSocket(port);
  std::lock_guard<std::mutex> lock(mutex);
  held.emplace_back(fd);
  return port;
}

}  // namespace tolvex::e2e
