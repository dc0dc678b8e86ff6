// Module InetConnect's state: the parts of the servlet URL the post uses.
// Written by ParseServerUrl, read by PostRequest; owned by the front end
// beside the job state (one per apartment thread in Tolvex.dll) and used
// by one call at a time.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace tolvex {

struct ServerAddress {
  bool UseHttps = false;
  std::u16string ServerHost;  // as written, ":port" included
  std::u16string ServerPath;  // from the first "/" after the host, query included
};

// A URL with no "/" after its host.
struct InvalidServerUrl : std::invalid_argument {
  InvalidServerUrl() : std::invalid_argument("no path after the host") {}
};

// Sets UseHttps, then ServerHost and ServerPath. A URL without a "/" after
// the host throws InvalidServerUrl after UseHttps has been set; host and
// path then keep their previous values.
void ParseServerUrl(std::u16string_view url, ServerAddress& address);

// Where to connect: ServerHost without its port suffix (brackets of an IPv6
// literal removed) and the port. ServerHost keeps ":8080" for the request's
// Host line, but the connection must go to that port: a client would
// otherwise try to resolve "host:8080" as a name on port 80, and such a URL
// could never work.
struct ConnectTarget {
  std::u16string host;
  std::uint16_t port = 80;
};

// Throws InvalidServerUrl for a port that is not a number from 1 to 65535.
ConnectTarget ResolveConnectTarget(const ServerAddress& address);

}  // namespace tolvex
