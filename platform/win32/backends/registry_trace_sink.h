// The Windows trace, opt in: the string value TraceFile under
// HKCU\Software\TolvexPro\Tolvex names a file that each call appends one
// timestamped line per step to; %VARIABLES% in it are expanded whether it
// is REG_EXPAND_SZ or REG_SZ. Without the value the DLL writes nothing.
// The value is read at the start of every call, so support can switch the
// trace on and off without restarting the client application.
//
// Thread contract: each apartment's root has its own sink, used by its
// call's threads under its Trace's lock; the file is shared by the whole
// process, and each line goes into it whole, tagged with the process and
// thread that wrote it.
#pragma once

#include <string>
#include <string_view>

#include "component/trace.h"

namespace tolvex::win32 {

inline constexpr wchar_t kTraceKey[] = L"Software\\TolvexPro\\Tolvex";
inline constexpr wchar_t kTraceValue[] = L"TraceFile";

class RegistryTraceSink : public TraceSink {
 public:
  bool BeginCall() override;
  // Opens, appends and closes, so the file can be read, moved or deleted
  // between lines, and a line is on disk as soon as it is written. A file
  // that cannot be opened loses the line; the call goes on as it would.
  void Line(std::string_view line) override;

 private:
  std::wstring path_;
  bool open_failure_told_ = false;
};

}  // namespace tolvex::win32
