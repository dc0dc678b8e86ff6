// Names and plain words for the error numbers WinINet reports, so a trace
// says "12029 ERROR_INTERNET_CANNOT_CONNECT" rather than a bare number.
// Free of Windows headers, so the table is checked on every build host.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tolvex::win32 {

// "ERROR_INTERNET_CANNOT_CONNECT"; "" for a number outside the table.
std::string_view WinInetErrorName(std::uint32_t code);
// "could not connect to the server"; generic words for an unknown number.
std::string_view WinInetErrorWords(std::uint32_t code);
// "WinINet error 12029 ERROR_INTERNET_CANNOT_CONNECT".
std::string DescribeWinInetError(std::uint32_t code);

}  // namespace tolvex::win32
