#pragma once

#include <string>

namespace wine_client {

// Calls through the vtable and through IDispatch with by-reference BSTRs;
// `work_dir` is a scratch directory for the file checks.
void CheckCalls(const std::wstring& work_dir);
// Many objects made and released; reference counts as COM defines them.
void CheckLifetimes();
// DllGetClassObject and DllCanUnloadNow called on the DLL directly.
// With a URL, also a receive into `file` through the loaded DLL.
void CheckUnloading(const std::wstring& dll, const std::wstring& url = L"",
                    const std::wstring& file = L"");
// TraceFile under HKCU\Software\TolvexPro\Tolvex: without it a receive
// writes no file; with it, a receive from the dead URL leaves a trace that
// names WinINet's error; an unopenable trace file changes no outcome.
void CheckTraceFile(const std::wstring& dead_url, const std::wstring& live_url,
                    const std::wstring& work_dir);

}  // namespace wine_client
