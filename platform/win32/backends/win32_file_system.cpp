#include "com/win32_api.h"

#include "backends/win32_file_system.h"

#include <string>

#include "com/wide_string.h"
#include "component/text.h"

namespace tolvex::win32 {
namespace {

[[noreturn]] void Fail(const char* operation, const std::u16string& path) {
  const DWORD error = GetLastError();
  throw FileError(std::string(operation) + " " + ToUtf8(path) + ": error " + std::to_string(error));
}

}  // namespace

bool Win32FileSystem::ProbeOpenForRead(const std::u16string& path) noexcept {
  try {
    const HANDLE file = CreateFileW(ToWide(path).c_str(), GENERIC_READ, FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    CloseHandle(file);
    // CreateFileW opens a directory only with backup semantics, but a
    // directory is never a file to send whatever the system says.
    return !IsDirectory(path);
  } catch (...) {
    return false;
  }
}

void Win32FileSystem::CreateDirectory(const std::u16string& path) {
  if (!CreateDirectoryW(ToWide(path).c_str(), nullptr)) Fail("create directory", path);
}

void Win32FileSystem::DeleteFile(const std::u16string& path) {
  if (!DeleteFileW(ToWide(path).c_str())) Fail("delete", path);
}

void Win32FileSystem::RenameReplacing(const std::u16string& from, const std::u16string& to) {
  if (!MoveFileExW(ToWide(from).c_str(), ToWide(to).c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED)) {
    Fail("rename", from);
  }
}

std::optional<std::uint64_t> Win32FileSystem::FreeSpace(const std::u16string& dir) noexcept {
  try {
    // An empty directory is the root of the current drive, as "\name" is.
    const std::wstring where = dir.empty() ? std::wstring(L"\\") : ToWide(dir) + L"\\";
    ULARGE_INTEGER available{};
    if (!GetDiskFreeSpaceExW(where.c_str(), &available, nullptr, nullptr)) return std::nullopt;
    return available.QuadPart;
  } catch (...) {
    return std::nullopt;
  }
}

bool Win32FileSystem::IsLink(const std::u16string& path) noexcept {
  try {
    const DWORD attributes = GetFileAttributesW(ToWide(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
  } catch (...) {
    return false;
  }
}

}  // namespace tolvex::win32
