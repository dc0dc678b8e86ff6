// Owner of one open registry key.
#pragma once

#include "com/win32_api.h"

#include "com/unique_handle.h"

namespace tolvex::win32 {

using unique_hkey = unique_handle<HKEY, &RegCloseKey>;

}  // namespace tolvex::win32
