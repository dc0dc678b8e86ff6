#include <windows.h>

#include <cctype>

#include "header_charset.h"

namespace tolvex::server {
namespace {

// "CP932", "cp1252" or "932": a Windows code page number; 0 for anything else.
UINT CodePageOf(const std::string& name) {
  std::size_t at = 0;
  if (name.size() > 2 && std::toupper(static_cast<unsigned char>(name[0])) == 'C' &&
      std::toupper(static_cast<unsigned char>(name[1])) == 'P') {
    at = 2;
  }
  if (at == name.size() || name.size() - at > 5) return 0;
  UINT page = 0;
  for (; at < name.size(); ++at) {
    if (!std::isdigit(static_cast<unsigned char>(name[at]))) return 0;
    page = page * 10 + static_cast<UINT>(name[at] - '0');
  }
  return IsValidCodePage(page) ? page : 0;
}

class CodePageCharset final : public HeaderCharset {
 public:
  explicit CodePageCharset(UINT page) : page_(page) {}

  // The shortest byte run that converts without an invalid character: a
  // character of a double-byte code page such as 932 is one or two bytes.
  Char Decode(const std::string& s, std::size_t at) override {
    constexpr int kLongestChar = 4;
    for (int length = 1; length <= kLongestChar && at + length <= s.size(); ++length) {
      wchar_t wide[4];
      const int units =
          MultiByteToWideChar(page_, MB_ERR_INVALID_CHARS, s.data() + at, length, wide, 4);
      if (units <= 0) continue;
      char utf8[16];
      const int bytes =
          WideCharToMultiByte(CP_UTF8, 0, wide, units, utf8, sizeof utf8, nullptr, nullptr);
      if (bytes > 0) return {static_cast<std::size_t>(length), std::string(utf8, bytes)};
      break;
    }
    return {};
  }

 private:
  UINT page_;
};

}  // namespace

std::unique_ptr<HeaderCharset> HeaderCharset::Open(const std::string& name) {
  const UINT page = CodePageOf(name);
  if (page == 0) return nullptr;
  return std::make_unique<CodePageCharset>(page);
}

}  // namespace tolvex::server
