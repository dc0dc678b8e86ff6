#include "com/win32_api.h"

#include "backends/win32_file_system.h"

#include <filesystem>
#include <string>
#include <system_error>

#include "backends/unique_kernel_handle.h"
#include "com/wide_string.h"
#include "component/text.h"

namespace tolvex::win32 {
namespace {

[[noreturn]] void Fail(const char* operation, const std::u16string& path) {
  const DWORD error = GetLastError();
  throw FileError(std::string(operation) + " " + ToUtf8(path) + ": error " + std::to_string(error));
}

unique_kernel_handle OpenExisting(const std::u16string& path, DWORD access, DWORD flags) {
  const HANDLE file = CreateFileW(ToWide(path).c_str(), access,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, flags, nullptr);
  if (file == INVALID_HANDLE_VALUE) Fail("open", path);
  return unique_kernel_handle(file);
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

FileKind Win32FileSystem::KindOf(const std::u16string& path) noexcept {
  try {
    const DWORD attributes = GetFileAttributesW(ToWide(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
      const DWORD error = GetLastError();
      return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? FileKind::kMissing
                                                                            : FileKind::kOther;
    }
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return FileKind::kLink;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return FileKind::kDirectory;
    if (attributes & FILE_ATTRIBUTE_DEVICE) return FileKind::kOther;
    return FileKind::kRegular;
  } catch (...) {
    return FileKind::kOther;
  }
}

std::u16string Win32FileSystem::ResolveLinks(const std::u16string& path) {
  if (!IsLink(path)) return path;
  const auto file = OpenExisting(path, 0, FILE_FLAG_BACKUP_SEMANTICS);
  std::wstring final_path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetFinalPathNameByHandleW(file.get(), final_path.data(),
                                                   static_cast<DWORD>(final_path.size()),
                                                   FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0) Fail("follow link", path);
    if (length < final_path.size()) {
      final_path.resize(length);
      break;
    }
    final_path.resize(length);
  }
  // "\\?\C:\dir\file" names the same file as "C:\dir\file", which is what
  // the archive control is given as its directory.
  if (final_path.rfind(L"\\\\?\\", 0) == 0 && final_path.size() > 6 && final_path[5] == L':') {
    final_path.erase(0, 4);
  }
  return FromWide(final_path);
}

void Win32FileSystem::CreatePrivateDirectory(const std::u16string& path) {
  // It inherits the security of the directory it is made in, like every
  // file the caller keeps there.
  CreateDirectory(path);
}

void Win32FileSystem::RemoveTree(const std::u16string& path) noexcept {
  try {
    namespace fs = std::filesystem;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(fs::path(path), ec), end; !ec && it != end;
         it.increment(ec)) {
      const std::wstring entry = it->path().wstring();
      const DWORD attributes = GetFileAttributesW(entry.c_str());
      if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
        SetFileAttributesW(entry.c_str(), attributes & ~DWORD{FILE_ATTRIBUTE_READONLY});
      }
    }
  } catch (...) {
  }
  StdFileSystem::RemoveTree(path);
}

void Win32FileSystem::CopyPermissions(const std::u16string& from, const std::u16string& to) {
  const DWORD old_attributes = GetFileAttributesW(ToWide(from).c_str());
  if (old_attributes == INVALID_FILE_ATTRIBUTES) Fail("attributes of", from);
  const DWORD attributes = GetFileAttributesW(ToWide(to).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) Fail("attributes of", to);
  const DWORD wanted =
      (attributes & ~DWORD{FILE_ATTRIBUTE_READONLY}) | (old_attributes & FILE_ATTRIBUTE_READONLY);
  if (wanted != attributes && !SetFileAttributesW(ToWide(to).c_str(), wanted)) {
    Fail("set attributes of", to);
  }
}

void Win32FileSystem::ReplaceDurably(const std::u16string& from, const std::u16string& to) {
  // Windows refuses to replace a read-only file; Wine lets it happen. The
  // attribute asks that the file not be overwritten, so it is refused here
  // on both.
  const DWORD target_attributes = GetFileAttributesW(ToWide(to).c_str());
  if (target_attributes != INVALID_FILE_ATTRIBUTES &&
      (target_attributes & FILE_ATTRIBUTE_READONLY)) {
    SetLastError(ERROR_ACCESS_DENIED);
    Fail("replace (read-only)", to);
  }
  {
    const auto file = OpenExisting(from, GENERIC_WRITE, FILE_ATTRIBUTE_NORMAL);
    if (!FlushFileBuffers(file.get())) Fail("flush", from);
  }
  if (!MoveFileExW(ToWide(from).c_str(), ToWide(to).c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    Fail("rename", from);
  }
}

}  // namespace tolvex::win32
