// Command line of tolvex-server and the misbehaviour switches that tests
// flip through the command line or a control file read before each request.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tolvex::server {

struct Misbehaviour {
  std::optional<std::string> reply_body;  // raw reply body instead of the servlet's
  std::optional<std::size_t> reply_size;  // raw reply of N bytes, byte i = i mod 251
  int status = 200;                       // HTTP status of every reply
  std::string location;                   // a Location header on every reply
  std::size_t delay_ms = 0;               // wait before answering
  std::optional<std::size_t> drop_after;  // close the connection after N body bytes
  bool never_answer = false;              // hold the request until shutdown
  std::size_t trickle_bytes = 0;          // send N bytes ...
  std::size_t trickle_ms = 0;             // ... every T ms

  // Applies one "key=value" setting (keys as the flags, without "--").
  // Returns an error text, or an empty string.
  std::string Set(const std::string& key, const std::string& value);
  bool Trickles() const { return trickle_bytes > 0; }
};

struct ServerOptions {
  std::string listen_host = "127.0.0.1";
  int listen_port = 0;
  std::string root = ".";
  std::string context;  // "" or "/app": the servlets live under <context>/servlets/
  std::string tls_cert;
  std::string tls_key;
  std::string control_file;
  // The request header's charset (an iconv name); "" reads UTF-8, or a
  // byte a character where the header is not UTF-8.
  std::string header_charset;
  Misbehaviour misbehaviour;
  std::uint64_t max_body = std::uint64_t{1} << 30;  // bytes of request body taken
  std::size_t workers = 64;                         // connections served at the same time
  std::size_t read_timeout_seconds = 30;            // silence allowed inside a request
  std::size_t idle_timeout_seconds = 5;             // silence allowed between requests
  bool help = false;
  bool version = false;
};

// Throws std::invalid_argument with a message fit for the user.
ServerOptions ParseServerOptions(const std::vector<std::string>& args);

// Why the server cannot serve from these options (no data directory, no
// companies.txt in it), or an empty string.
std::string CheckServerSetup(const ServerOptions& options);

// The flags' misbehaviour, overlaid by the control file's lines when the
// file exists. A line that does not parse is reported on stderr and skipped.
Misbehaviour CurrentMisbehaviour(const ServerOptions& options);

extern const char kUsage[];
extern const char kServerVersion[];
// False where the server is built without OpenSSL (Windows): HTTP only.
extern const bool kServerHasTls;

}  // namespace tolvex::server
