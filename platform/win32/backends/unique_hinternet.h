// Owner of one WinINet handle.
#pragma once

#include "com/win32_api.h"

#include <wininet.h>

#include "com/unique_handle.h"

namespace tolvex::win32 {

using unique_hinternet = unique_handle<HINTERNET, &InternetCloseHandle>;

}  // namespace tolvex::win32
