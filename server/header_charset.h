// The charset a request header is read in when it is not UTF-8
// (--charset): the system's converter to UTF-8, iconv on POSIX and the
// code pages of MultiByteToWideChar on Windows.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace tolvex::server {

class HeaderCharset {
 public:
  // Nothing when the system cannot read NAME.
  static std::unique_ptr<HeaderCharset> Open(const std::string& name);
  virtual ~HeaderCharset() = default;

  struct Char {
    std::size_t bytes = 0;  // 0: no character of the charset starts here
    std::string utf8;
  };
  // The one character that starts at `at`, turned into UTF-8.
  virtual Char Decode(const std::string& s, std::size_t at) = 0;
};

}  // namespace tolvex::server
