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
// A receive into `file` while another thread checks the dialog: the system
// DPI is `dpi`; label, progress bar and Cancel lie inside the client area
// without overlapping; their captions have glyphs in the dialog's font and
// fit their controls.
void CheckDialog(const std::wstring& url, const std::wstring& key, const std::wstring& code,
                 const std::wstring& file, int dpi);

}  // namespace wine_client
