#include "com/win32_api.h"

#include "backends/registry_trace_sink.h"

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "backends/unique_kernel_handle.h"

namespace tolvex::win32 {
namespace {

// The stored text of a REG_SZ or REG_EXPAND_SZ value, unexpanded.
std::wstring ReadStoredSetting() {
  constexpr DWORD kFlags = RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND;
  DWORD bytes = 0;
  if (RegGetValueW(HKEY_CURRENT_USER, kTraceKey, kTraceValue, kFlags, nullptr, nullptr, &bytes) !=
          ERROR_SUCCESS ||
      bytes < sizeof(wchar_t)) {
    return {};
  }
  // The value may grow between the two reads.
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

// Variables such as %TEMP% are expanded whatever the value's type: `reg
// add` without /t REG_EXPAND_SZ, typed into PowerShell, stores them
// literally in a REG_SZ, and a trace that then went to a file named
// "%TEMP%\..." would be lost without a word.
std::wstring ReadTraceFileSetting() {
  const std::wstring stored = ReadStoredSetting();
  if (stored.find(L'%') == std::wstring::npos) return stored;
  const DWORD needed = ExpandEnvironmentStringsW(stored.c_str(), nullptr, 0);
  if (needed == 0) return stored;
  std::vector<wchar_t> expanded(needed);
  if (ExpandEnvironmentStringsW(stored.c_str(), expanded.data(), needed) == 0) return stored;
  return std::wstring(expanded.data());
}

// One trace file serves every apartment of the process: its lines are
// appended one at a time, each whole.
std::mutex g_append_mutex;

}  // namespace

bool RegistryTraceSink::BeginCall() {
  path_ = ReadTraceFileSetting();
  open_failure_told_ = false;
  return !path_.empty();
}

void RegistryTraceSink::Line(std::string_view line) {
  if (path_.empty()) return;
  const std::lock_guard<std::mutex> lock(g_append_mutex);
  const HANDLE opened = CreateFileW(path_.c_str(), FILE_APPEND_DATA,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (opened == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    // Said once per call where a debugger or DebugView sees it; the
    // call itself goes on as it would.
    if (!open_failure_told_) {
      open_failure_told_ = true;
      const std::wstring note = L"Tolvex: cannot open the trace file \"" + path_ +
                                L"\" (HKCU\\Software\\TolvexPro\\Tolvex TraceFile), error " +
                                std::to_wstring(error) + L"\n";
      OutputDebugStringW(note.c_str());
    }
    return;
  }
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
