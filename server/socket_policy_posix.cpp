#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>

#include "socket_policy.h"

namespace tolvex::server {
namespace {

std::optional<std::pair<std::string, int>> Endpoint(const sockaddr_storage& address) {
  char text[INET6_ADDRSTRLEN] = {};
  if (address.ss_family == AF_INET) {
    const auto& v4 = reinterpret_cast<const sockaddr_in&>(address);
    inet_ntop(AF_INET, &v4.sin_addr, text, sizeof text);
    return std::make_pair(std::string(text), static_cast<int>(ntohs(v4.sin_port)));
  }
  if (address.ss_family == AF_INET6) {
    const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address);
    inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof text);
    return std::make_pair(std::string(text), static_cast<int>(ntohs(v6.sin6_port)));
  }
  return std::nullopt;
}

// The descriptor of the request's connection, found by its two ends (the
// library does not hand it out); -1 when none matches.
int ConnectionOf(const httplib::Request& request) {
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", error)) {
    int fd = -1;
    try {
      fd = std::stoi(entry.path().filename().string());
    } catch (const std::exception&) {
      continue;
    }
    sockaddr_storage local{}, peer{};
    socklen_t local_size = sizeof local, peer_size = sizeof peer;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &local_size) != 0 ||
        getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peer_size) != 0) {
      continue;
    }
    const auto here = Endpoint(local);
    const auto there = Endpoint(peer);
    if (here && there && here->second == request.local_port &&
        there->second == request.remote_port && there->first == request.remote_addr) {
      return fd;
    }
  }
  return -1;
}

// A refusal sent before the body was read: the client, seeing it, stops
// sending and closes. Until then its bytes are read and dropped, because
// closing on unread bytes resets the connection and can take the refusal
// with it before the client has read it. A client that goes on sending is
// cut off after a while.
void DrainAndShutDown(int fd) {
  constexpr std::uint64_t kMostBytes = std::uint64_t{64} << 20;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  std::uint64_t total = 0;
  char buffer[64 * 1024];
  pollfd ready{fd, POLLIN, 0};
  while (total < kMostBytes && std::chrono::steady_clock::now() < deadline &&
         poll(&ready, 1, 2000) == 1) {
    const ssize_t got = recv(fd, buffer, sizeof buffer, 0);
    if (got <= 0) break;
    total += static_cast<std::uint64_t>(got);
  }
  // The library then sees the connection end and closes it.
  shutdown(fd, SHUT_RDWR);
}

}  // namespace

// SO_REUSEADDR alone lets a restarted server bind while old connections
// linger, and still refuses a port another server listens on.
void ListenExclusively(socket_t sock) {
  const int yes = 1;
  setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
}

void DrainRefusedConnection(const httplib::Request& request) {
  if (const int fd = ConnectionOf(request); fd >= 0) DrainAndShutDown(fd);
}

}  // namespace tolvex::server
