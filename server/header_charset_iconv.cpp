#include <iconv.h>

#include <cerrno>

#include "header_charset.h"

namespace tolvex::server {
namespace {

class IconvCharset final : public HeaderCharset {
 public:
  explicit IconvCharset(iconv_t cd) : cd_(cd) {}
  ~IconvCharset() override { iconv_close(cd_); }
  IconvCharset(const IconvCharset&) = delete;
  IconvCharset& operator=(const IconvCharset&) = delete;

  // Tries ever longer byte runs until one converts whole: a character of a
  // multi-byte charset such as CP932 is one or two bytes.
  Char Decode(const std::string& s, std::size_t at) override {
    constexpr std::size_t kLongestChar = 4;
    for (std::size_t length = 1; length <= kLongestChar && at + length <= s.size(); ++length) {
      iconv(cd_, nullptr, nullptr, nullptr, nullptr);
      char* in = const_cast<char*>(s.data() + at);
      std::size_t in_left = length;
      char out[16];
      char* out_at = out;
      std::size_t out_left = sizeof out;
      if (iconv(cd_, &in, &in_left, &out_at, &out_left) != static_cast<std::size_t>(-1) &&
          in_left == 0) {
        return {length, std::string(out, out_at)};
      }
      if (errno != EINVAL) break;  // not merely cut short
    }
    return {};
  }

 private:
  iconv_t cd_;
};

}  // namespace

std::unique_ptr<HeaderCharset> HeaderCharset::Open(const std::string& name) {
  const iconv_t cd = iconv_open("UTF-8", name.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) return nullptr;
  return std::make_unique<IconvCharset>(cd);
}

}  // namespace tolvex::server
