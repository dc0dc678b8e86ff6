#include "com/win32_api.h"

#include "backends/registry_trace_sink.h"

#include <cstdio>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "backends/module_origin.h"
#include "backends/unique_kernel_handle.h"
#include "com/unique_hkey.h"

namespace tolvex::win32 {
namespace {

constexpr wchar_t kUserSetting[] = L"HKCU\\Software\\TolvexPro\\Tolvex";
constexpr wchar_t kMachineSetting[] = L"HKLM\\Software\\TolvexPro\\Tolvex";

// The stored text of the REG_SZ or REG_EXPAND_SZ value TraceFile under an
// open key, unexpanded; nothing when the key has no such value.
std::optional<std::wstring> ReadStoredValue(HKEY key) {
  constexpr DWORD kFlags = RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND;
  DWORD bytes = 0;
  if (RegGetValueW(key, nullptr, kTraceValue, kFlags, nullptr, nullptr, &bytes) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  if (bytes < sizeof(wchar_t)) return std::wstring();
  // The value may grow between the two reads.
  for (int attempt = 0; attempt < 3; ++attempt) {
    std::vector<wchar_t> text(bytes / sizeof(wchar_t) + 1);
    DWORD size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    const LSTATUS status =
        RegGetValueW(key, nullptr, kTraceValue, kFlags, nullptr, text.data(), &size);
    if (status == ERROR_SUCCESS) return std::wstring(text.data());
    if (status != ERROR_MORE_DATA) return std::nullopt;
    bytes = size;
  }
  return std::nullopt;
}

std::optional<std::wstring> ReadSetting(HKEY root, REGSAM view) {
  unique_hkey key;
  if (RegOpenKeyExW(root, kTraceKey, 0, KEY_QUERY_VALUE | view, key.put()) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  return ReadStoredValue(key.get());
}

// Variables such as %TEMP% are expanded whatever the value's type: `reg
// add` without /t REG_EXPAND_SZ, typed into PowerShell, stores them
// literally in a REG_SZ, and a trace that then went to a file named
// "%TEMP%\..." would be lost without a word.
std::wstring Expanded(const std::wstring& stored) {
  if (stored.find(L'%') == std::wstring::npos) return stored;
  const DWORD needed = ExpandEnvironmentStringsW(stored.c_str(), nullptr, 0);
  if (needed == 0) return stored;
  std::vector<wchar_t> expanded(needed);
  if (ExpandEnvironmentStringsW(stored.c_str(), expanded.data(), needed) == 0) return stored;
  return std::wstring(expanded.data());
}

// One trace file serves every apartment of the process: its lines are
// appended one at a time, each whole, and it is rolled over between them.
std::mutex g_append_mutex;

// A full file goes to FILE.1 before the call's first line. Another process
// may roll it at the same moment; one of the two renames then fails, and
// no line is lost but the few a race can put into the older file.
void RollOverWhenFull(const std::wstring& path) {
  const std::lock_guard<std::mutex> lock(g_append_mutex);
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return;
  }
  const unsigned long long size =
      (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  if (size < kTraceRollBytes) return;
  MoveFileExW(path.c_str(), (path + L".1").c_str(), MOVEFILE_REPLACE_EXISTING);
}

}  // namespace

bool RegistryTraceSink::BeginCall() {
  open_failure_told_ = false;
  std::optional<std::wstring> stored = ReadSetting(HKEY_CURRENT_USER, 0);
  setting_ = kUserSetting;
  if (!stored) {
    stored = ReadSetting(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY);
    setting_ = kMachineSetting;
  }
  path_ = stored ? Expanded(*stored) : std::wstring();
  if (path_.empty()) return false;
  RollOverWhenFull(path_);
  if (origin_.empty()) origin_ = LoadedModuleDescription();
  Line("* " + origin_);
  return true;
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
      const std::wstring note = L"Tolvex: cannot open the trace file \"" + path_ + L"\" (" +
                                setting_ + L" TraceFile), error " + std::to_wstring(error) + L"\n";
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
