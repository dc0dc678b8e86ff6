// Form encodings written out byte by byte, apart from the product's codec,
// so that tests do not build their expected bodies and replies with the
// code they check.
#pragma once

#include <cctype>
#include <string>

namespace tolvex::testing {

// What urllib.parse.quote_from_bytes(safe="") makes of bytes, as a server
// written in another language would send them: every byte but the
// unreserved ones as %XX.
template <typename Bytes>
std::string UrlQuoted(const Bytes& bytes) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const auto byte : bytes) {
    const auto b = static_cast<unsigned char>(byte);
    if (std::isalnum(b) || b == '-' || b == '.' || b == '_' || b == '~') {
      out += static_cast<char>(b);
    } else {
      out += {'%', kHex[b >> 4], kHex[b & 15]};
    }
  }
  return out;
}

// The client's own rule for a body: ASCII letters and digits as they are,
// a space as '+', every other byte as %XX in upper case.
template <typename Bytes>
std::string ClientFormEncoded(const Bytes& bytes) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const auto byte : bytes) {
    const auto b = static_cast<unsigned char>(byte);
    if (b < 0x80 && std::isalnum(b)) {
      out += static_cast<char>(b);
    } else if (b == ' ') {
      out += '+';
    } else {
      out += {'%', kHex[b >> 4], kHex[b & 15]};
    }
  }
  return out;
}

}  // namespace tolvex::testing
