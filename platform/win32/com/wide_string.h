// Component strings are UTF-16 and so are Windows' wide strings: the
// conversions here only change the character type, never the content.
#pragma once

#include "com/win32_api.h"

#include <oleauto.h>

#include <string>
#include <string_view>

namespace tolvex::win32 {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wide strings are UTF-16");

inline std::wstring ToWide(std::u16string_view s) { return std::wstring(s.begin(), s.end()); }

inline std::u16string FromWide(std::wstring_view s) { return std::u16string(s.begin(), s.end()); }

// A null BSTR is the empty string, as automation treats it.
inline std::u16string FromBstr(BSTR b) {
  if (b == nullptr) return std::u16string();
  return std::u16string(reinterpret_cast<const char16_t*>(b), SysStringLen(b));
}

// Text in the system ANSI code page, as the ANSI entry points take it.
inline std::string ToAnsi(std::u16string_view s) {
  if (s.empty()) return std::string();
  const auto* wide = reinterpret_cast<const wchar_t*>(s.data());
  const int length = static_cast<int>(s.size());
  const int bytes = WideCharToMultiByte(CP_ACP, 0, wide, length, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(CP_ACP, 0, wide, length, out.data(), bytes, nullptr, nullptr);
  return out;
}

}  // namespace tolvex::win32
