// A minimal check list for the Wine client: each check prints one line,
// and the process exits non-zero when any failed.
#pragma once

#include <cstdio>
#include <string>

namespace wine_client {

inline int& Failures() {
  static int failures = 0;
  return failures;
}

inline bool Check(bool ok, const std::string& what) {
  std::printf("%s %s\n", ok ? "ok  " : "FAIL", what.c_str());
  std::fflush(stdout);
  if (!ok) ++Failures();
  return ok;
}

inline std::string Hex(long value) {
  char text[16];
  std::snprintf(text, sizeof(text), "0x%08lX", static_cast<unsigned long>(value));
  return text;
}

inline std::string Narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out += c < 128 ? static_cast<char>(c) : '?';
  return out;
}

}  // namespace wine_client
