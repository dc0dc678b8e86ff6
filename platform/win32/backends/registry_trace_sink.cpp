#include "com/win32_api.h"

#include "backends/registry_trace_sink.h"

#include <cstdio>
#include <mutex>
#include <vector>

#include "backends/unique_kernel_handle.h"

namespace tolvex::win32 {
namespace {

// REG_SZ, or REG_EXPAND_SZ with its variables expanded ("%TEMP%\..."):
// RegGetValue expands that type itself and reports it as REG_SZ (asking
// for REG_EXPAND_SZ is valid only with RRF_NOEXPAND).
std::wstring ReadTraceFileSetting() {
  constexpr DWORD kFlags = RRF_RT_REG_SZ;
  DWORD bytes = 0;
  if (RegGetValueW(HKEY_CURRENT_USER, kTraceKey, kTraceValue, kFlags, nullptr, nullptr, &bytes) !=
          ERROR_SUCCESS ||
      bytes < sizeof(wchar_t)) {
    return {};
  }
  // Expansion may need more room than the stored value reported.
  for (int attempt = 0; attempt < 3; ++attempt) {
    std::vector<wchar_t> text(bytes / sizeof(wchar_t) + 1);
    DWORD size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    const LSTATUS status = RegGetValueW(HKEY_CURRENT_USER, kTraceKey, kTraceValue, kFlags, nullptr,
                                        text.data(), &size);
    if (status == ERROR_SUCCESS) return std::wstring(text.data());
    if (status != ERROR_MORE_DATA) return {};
    bytes = size;
  }
  return {};
}

// One trace file serves every apartment of the process: its lines are
// appended one at a time, each whole.
std::mutex g_append_mutex;

}  // namespace

bool RegistryTraceSink::BeginCall() {
  path_ = ReadTraceFileSetting();
  return !path_.empty();
}

void RegistryTraceSink::Line(std::string_view line) {
  if (path_.empty()) return;
  const std::lock_guard<std::mutex> lock(g_append_mutex);
  const HANDLE opened = CreateFileW(path_.c_str(), FILE_APPEND_DATA,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (opened == INVALID_HANDLE_VALUE) return;
  const unique_kernel_handle file(opened);

  SYSTEMTIME now;
  GetLocalTime(&now);
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "%04u-%02u-%02u %02u:%02u:%02u.%03u [%lu:%lu] ", now.wYear,
                now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds,
                GetCurrentProcessId(), GetCurrentThreadId());
  std::string text = stamp;
  text.append(line.data(), line.size());
  text += "\r\n";
  DWORD written = 0;
  WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

}  // namespace tolvex::win32
