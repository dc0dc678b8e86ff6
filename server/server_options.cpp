#include "server_options.h"

#include <cctype>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <limits>
#include <sstream>
#include <stdexcept>
#include <string_view>

#include "header_charset.h"
#include "project_version.h"

namespace tolvex::server {
namespace {

std::optional<std::size_t> ParseCount(const std::string& text) {
  if (text.empty() || text.size() > 18) return std::nullopt;
  std::size_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<std::size_t>(c - '0');
  }
  return value;
}

std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::invalid_argument("cannot read " + path);
  // In bulk, not a character at a time: a reply file of many megabytes
  // must not hold up the start (seconds in a sanitizer build).
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

// A context that would silently never match a request path is refused
// here, where the user can still see why.
std::string NormaliseContext(std::string context) {
  const auto malformed = [] {
    return std::invalid_argument("--context wants a path such as /app (letters, digits, -._~/)");
  };
  if (context.empty() || context.front() != '/') throw malformed();
  while (!context.empty() && context.back() == '/') context.pop_back();
  std::size_t segment_start = 0;
  for (std::size_t i = 1; i <= context.size(); ++i) {
    if (i < context.size() && context[i] != '/') {
      const unsigned char c = static_cast<unsigned char>(context[i]);
      if (!std::isalnum(c) &&
          std::string_view("-._~").find(static_cast<char>(c)) == std::string_view::npos) {
        throw malformed();
      }
      continue;
    }
    const std::string_view segment(context.data() + segment_start + 1, i - segment_start - 1);
    if (segment.empty() || segment == "." || segment == "..") throw malformed();
    segment_start = i;
  }
  return context;
}

// A byte count, optionally with a K, M or G suffix (powers of 1024).
std::optional<std::uint64_t> ParseSize(std::string text) {
  std::uint64_t unit = 1;
  if (!text.empty()) {
    const char suffix = static_cast<char>(std::toupper(static_cast<unsigned char>(text.back())));
    const std::size_t shift = suffix == 'K' ? 10 : suffix == 'M' ? 20 : suffix == 'G' ? 30 : 0;
    if (shift > 0) {
      unit <<= shift;
      text.pop_back();
    }
  }
  const auto count = ParseCount(text);
  if (!count || *count > std::numeric_limits<std::uint64_t>::max() / unit) return std::nullopt;
  return *count * unit;
}

std::size_t PositiveCount(const std::string& flag, const std::string& value) {
  const auto count = ParseCount(value);
  if (!count || *count == 0) throw std::invalid_argument(flag + " wants a number above 0");
  return *count;
}

void ParseListen(const std::string& text, ServerOptions& options) {
  const auto colon = text.rfind(':');
  if (colon == std::string::npos) throw std::invalid_argument("--listen wants HOST:PORT");
  std::string host = text.substr(0, colon);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
  }
  const auto port = ParseCount(text.substr(colon + 1));
  if (host.empty() || !port || *port > 65535) {
    throw std::invalid_argument("--listen wants HOST:PORT");
  }
  options.listen_host = host;
  options.listen_port = static_cast<int>(*port);
}

bool ConvertsToUtf8(const std::string& charset) { return HeaderCharset::Open(charset) != nullptr; }

}  // namespace

const char kUsage[] =
    "usage: tolvex-server [--listen HOST:PORT] [--root DIR] [--context PATH]\n"
    "                     [--tls-cert FILE --tls-key FILE] [--control FILE]\n"
    "                     [--charset NAME]  (the request header's, e.g. CP932)\n"
    "                     [--reply-body TEXT | --reply-file FILE | --reply-size N]\n"
    "                     [--status CODE] [--location URL] [--delay-ms N] [--drop-after N]\n"
    "                     [--never-answer] [--trickle BYTES/MS]\n"
    "                     [--max-body BYTES[K|M|G]] [--workers N]\n"
    "                     [--read-timeout SECONDS] [--idle-timeout SECONDS]\n"
    "       tolvex-server --help | --version\n";

const char kServerVersion[] = "tolvex-server " TOLVEX_VERSION_TEXT;

std::string Misbehaviour::Set(const std::string& key, const std::string& value) {
  if (key == "reply-body") {
    reply_body = value;
  } else if (key == "reply-file") {
    try {
      reply_body = ReadWholeFile(value);
    } catch (const std::exception& e) {
      return e.what();
    }
  } else if (key == "location") {
    if (value.find_first_of("\r\n") != std::string::npos) return "location wants a URL";
    location = value;
  } else if (key == "never-answer") {
    never_answer = value.empty() || value == "1" || value == "true";
  } else if (key == "trickle") {
    const auto slash = value.find('/');
    const auto bytes = ParseCount(value.substr(0, slash));
    const auto ms = slash == std::string::npos ? std::nullopt : ParseCount(value.substr(slash + 1));
    if (!bytes || !ms || *bytes == 0) return "trickle wants BYTES/MS";
    trickle_bytes = *bytes;
    trickle_ms = *ms;
  } else {
    const auto number = ParseCount(value);
    if (!number) return key + " wants a number";
    if (key == "reply-size") {
      reply_size = *number;
    } else if (key == "status") {
      if (*number < 100 || *number > 999) return "status wants a code from 100 to 999";
      status = static_cast<int>(*number);
    } else if (key == "delay-ms") {
      delay_ms = *number;
    } else if (key == "drop-after") {
      drop_after = *number;
    } else {
      return "unknown setting " + key;
    }
  }
  return {};
}

ServerOptions ParseServerOptions(const std::vector<std::string>& args) {
  ServerOptions options;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& flag = args[i];
    if (flag.rfind("--", 0) != 0) throw std::invalid_argument("unexpected argument " + flag);
    const std::string key = flag.substr(2);
    if (key == "never-answer") {
      options.misbehaviour.never_answer = true;
      continue;
    }
    if (key == "help" || key == "version") {
      // Answered before anything else on the line is judged.
      (key == "help" ? options.help : options.version) = true;
      return options;
    }
    if (i + 1 >= args.size()) throw std::invalid_argument(flag + " wants a value");
    const std::string& value = args[++i];
    if (key == "listen") {
      ParseListen(value, options);
    } else if (key == "root") {
      options.root = value;
    } else if (key == "context") {
      options.context = NormaliseContext(value);
    } else if (key == "tls-cert") {
      options.tls_cert = value;
    } else if (key == "tls-key") {
      options.tls_key = value;
    } else if (key == "control") {
      options.control_file = value;
    } else if (key == "charset") {
      if (value.empty() || !ConvertsToUtf8(value)) {
        throw std::invalid_argument("--charset: no such charset " + value);
      }
      options.header_charset = value;
    } else if (key == "max-body") {
      const auto size = ParseSize(value);
      if (!size || *size == 0) throw std::invalid_argument("--max-body wants a size such as 64M");
      options.max_body = *size;
    } else if (key == "workers") {
      options.workers = PositiveCount(flag, value);
    } else if (key == "read-timeout") {
      options.read_timeout_seconds = PositiveCount(flag, value);
    } else if (key == "idle-timeout") {
      options.idle_timeout_seconds = PositiveCount(flag, value);
    } else if (const std::string error = options.misbehaviour.Set(key, value); !error.empty()) {
      throw std::invalid_argument(error);
    }
  }
  if (options.tls_cert.empty() != options.tls_key.empty()) {
    throw std::invalid_argument("--tls-cert and --tls-key go together");
  }
  if (!options.tls_cert.empty() && !kServerHasTls) {
    throw std::invalid_argument("this build of tolvex-server has no TLS (--tls-cert)");
  }
  return options;
}

std::string CheckServerSetup(const ServerOptions& options) {
  namespace fs = std::filesystem;
  std::error_code error;
  if (!fs::is_directory(options.root, error)) {
    return "--root " + options.root + " is not a directory";
  }
  const fs::path companies = fs::path(options.root) / "companies.txt";
  if (!fs::is_regular_file(companies, error) || !std::ifstream(companies)) {
    return "no readable companies.txt in " + options.root;
  }
  return {};
}

Misbehaviour CurrentMisbehaviour(const ServerOptions& options) {
  Misbehaviour current = options.misbehaviour;
  if (options.control_file.empty()) return current;
  std::ifstream in(options.control_file);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    const auto eq = line.find('=');
    const std::string error = eq == std::string::npos
                                  ? current.Set(line, "")
                                  : current.Set(line.substr(0, eq), line.substr(eq + 1));
    if (!error.empty()) std::cerr << "control file: " << error << '\n';
  }
  return current;
}

}  // namespace tolvex::server
