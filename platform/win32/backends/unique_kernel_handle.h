// Owner of one kernel object handle (event, thread, file).
#pragma once

#include "com/win32_api.h"

#include "com/unique_handle.h"

namespace tolvex::win32 {

using unique_kernel_handle = unique_handle<HANDLE, &CloseHandle>;

}  // namespace tolvex::win32
