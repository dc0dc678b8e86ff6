// The Windows trace, opt in: the string value TraceFile under
// HKCU\Software\TolvexPro\Tolvex names a file that each call appends one
// timestamped line per step to. Where the user has no such value, the same
// value under HKLM\Software\TolvexPro\Tolvex is read, in the 64-bit view
// whichever DLL reads it, so an administrator sets it once for every user
// and both architectures; a per-user value wins, an empty one switching
// the trace off for that user. %VARIABLES% in it are expanded for the
// calling user whether it is REG_EXPAND_SZ or REG_SZ. Without either value
// the DLL writes nothing. The values are read at the start of every call,
// so support can switch the trace on and off without restarting the
// client application.
//
// Each call's first line names the DLL and the program that loaded it. A
// file that has reached kTraceRollBytes when a call starts is renamed to
// the same name with ".1" added (replacing an older one), so a trace
// stays near twice that size.
//
// Thread contract: each apartment's root has its own sink, used by its
// call's threads under its Trace's lock; the file is shared by the whole
// process, and each line goes into it whole, tagged with the process and
// thread that wrote it.
//
// Thread contract: called under its Trace's lock, from the dialog's thread
// and the workers beside it, never at once.
#pragma once

#include <string>
#include <string_view>

#include "component/trace.h"

namespace tolvex::win32 {

inline constexpr wchar_t kTraceKey[] = L"Software\\TolvexPro\\Tolvex";
inline constexpr wchar_t kTraceValue[] = L"TraceFile";
inline constexpr unsigned long long kTraceRollBytes = 10ull << 20;

class RegistryTraceSink : public TraceSink {
 public:
  // Reads the setting, rolls the file over when it is full and writes the
  // call's first line.
  bool BeginCall() override;
  // Opens, appends and closes, so the file can be read, moved or deleted
  // between lines, and a line is on disk as soon as it is written. A file
  // that cannot be opened loses the line; the call goes on as it would.
  void Line(std::string_view line) override;

 private:
  std::wstring path_;
  const wchar_t* setting_ = L"";  // which key named the file, for the debugger's note
  std::string origin_;            // the DLL and its host, found once
  bool open_failure_told_ = false;
};

}  // namespace tolvex::win32
