#include "com/win32_api.h"

#include "backends/module_origin.h"

#include <winver.h>

#include <cstdio>
#include <vector>

#include "com/module_state.h"
#include "com/wide_string.h"
#include "component/text.h"

namespace tolvex::win32 {
namespace {

std::string Utf8(const std::wstring& text) { return ToUtf8(FromWide(text)); }

// The host's path; a process may live in a deep folder.
std::wstring HostPath() {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD length =
        GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return L"(unknown program)";
    if (length < buffer.size()) return std::wstring(buffer.data(), length);
    buffer.resize(buffer.size() * 2);
  }
}

// "1.00.0001 (file version 1.0.0.1)" from the file's version block: the
// text Explorer shows and the number detection rules compare.
std::string VersionOf(const std::wstring& path) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
  if (size == 0) return "(no version block)";
  std::vector<BYTE> block(size);
  if (!GetFileVersionInfoW(path.c_str(), 0, size, block.data())) return "(no version block)";
  std::string text;
  void* found = nullptr;
  UINT length = 0;
  if (VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", &found, &length) && length >= 4) {
    wchar_t query[64];
    const WORD* translation = static_cast<const WORD*>(found);
    std::swprintf(query, 64, L"\\StringFileInfo\\%04X%04X\\FileVersion", translation[0],
                  translation[1]);
    if (VerQueryValueW(block.data(), query, &found, &length) && length > 0) {
      text = Utf8(static_cast<const wchar_t*>(found)) + " ";
    }
  }
  if (VerQueryValueW(block.data(), L"\\", &found, &length) && length >= sizeof(VS_FIXEDFILEINFO)) {
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(found);
    char number[64];
    std::snprintf(number, sizeof number, "(file version %u.%u.%u.%u)",
                  static_cast<unsigned>(HIWORD(fixed->dwFileVersionMS)),
                  static_cast<unsigned>(LOWORD(fixed->dwFileVersionMS)),
                  static_cast<unsigned>(HIWORD(fixed->dwFileVersionLS)),
                  static_cast<unsigned>(LOWORD(fixed->dwFileVersionLS)));
    text += number;
  }
  return text;
}

std::string Bitness() {
  if (sizeof(void*) == 8) return "64-bit";
  BOOL wow64 = FALSE;
  if (IsWow64Process(GetCurrentProcess(), &wow64) && wow64) return "32-bit on 64-bit Windows";
  return "32-bit";
}

}  // namespace

std::string LoadedModuleDescription() {
  const std::wstring path = ThisModulePath();
  const std::wstring::size_type slash = path.find_last_of(L"\\/");
  const std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
  return Utf8(name) + " " + VersionOf(path) + ", " + Bitness() + ", " + Utf8(path) + ", in " +
         Utf8(HostPath());
}

}  // namespace tolvex::win32
