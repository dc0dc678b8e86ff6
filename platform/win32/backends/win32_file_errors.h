// Names, plain words and faults for the Windows error numbers that file
// operations report, so a cause says "the file is open in another program
// (Windows error 32 ERROR_SHARING_VIOLATION)" rather than "error 32".
// Free of Windows headers, so the table is checked on every build host.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "component/file_system.h"

namespace tolvex::win32 {

// "ERROR_SHARING_VIOLATION"; "" for a number outside the table.
std::string_view Win32FileErrorName(std::uint32_t code);
// The fault a user can act on; FileFault::kOther outside the table.
FileFault Win32FileFault(std::uint32_t code);
// "the file is open in another program"; "" outside the table.
std::string_view Win32FileErrorWords(std::uint32_t code);
// Whether a failure of this number often passes by itself: another
// program's sharing or lock, or an access refused to a file that is not
// read-only (a scanner that has just opened it, a delete still pending).
bool IsTransientWin32FileError(std::uint32_t code);
// "Windows error 32 ERROR_SHARING_VIOLATION".
std::string DescribeWin32FileError(std::uint32_t code);

// The FileError of `operation` on `path` (a component path, as the caller
// wrote it) failing with `code`. `system_words` is the system's own text,
// used for a number outside the table.
FileError Win32FileError(std::string_view operation, std::u16string_view path, std::uint32_t code,
                         std::string_view system_words = {});

}  // namespace tolvex::win32
