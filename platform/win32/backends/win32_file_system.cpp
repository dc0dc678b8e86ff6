#include "com/win32_api.h"

#include "backends/win32_file_system.h"

#include <algorithm>
#include <string>
#include <vector>

#include "backends/unique_kernel_handle.h"
#include "backends/win32_file_errors.h"
#include "backends/win32_paths.h"
#include "com/wide_string.h"
#include "component/buffered_writable_file.h"
#include "component/path_forms.h"
#include "component/text.h"

namespace tolvex::win32 {
namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr DWORD kCarriedAttributes =
    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// The system's own text for a number outside our table, in its language.
std::string SystemWords(DWORD code) {
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring words(text != nullptr ? text : L"", length);
  LocalFree(text);
  while (!words.empty() && (words.back() == L'\n' || words.back() == L'\r' ||
                            words.back() == L'.' || words.back() == L' ')) {
    words.pop_back();
  }
  return ToUtf8(FromWide(words));
}

[[noreturn]] void FailWith(const char* operation, const std::u16string& path, DWORD code) {
  throw Win32FileError(operation, path, code, SystemWords(code));
}

[[noreturn]] void Fail(const char* operation, const std::u16string& path) {
  FailWith(operation, path, GetLastError());
}

[[noreturn]] void FailNotDiskFile(const char* operation, const std::u16string& path) {
  const std::string reason(FaultWords(FileFault::kNotDiskFile));
  throw FileError(std::string(operation) + " " + ToUtf8(path) + ": " + reason,
                  FileFault::kNotDiskFile, reason);
}

// The full path the system reads `path` as: "/" and "\" alike, "." and ".."
// resolved, a device name as "\\.\COM1".
std::u16string FullPath(const std::u16string& path) {
  const std::wstring wide = ToWide(path);
  std::wstring full(MAX_PATH, L'\0');
  for (int tries = 0; tries < 4; ++tries) {
    const DWORD length =
        GetFullPathNameW(wide.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (length == 0) return path;
    if (length < full.size()) {
      full.resize(length);
      return FromWide(full);
    }
    full.resize(length);
  }
  return path;
}

// What the system calls are given for `path`.
std::wstring SystemPath(const std::u16string& path) {
  return ToWide(ExtendedLengthForm(FullPath(path)));
}

// The same for an operation that reports its failure: a path past the
// file system's limits fails here with the system's own number for it.
std::wstring CheckedSystemPath(const char* operation, const std::u16string& path) {
  const std::u16string full = FullPath(path);
  if (IsDevicePath(full)) FailNotDiskFile(operation, path);
  const std::u16string extended = ExtendedLengthForm(full);
  if (ExceedsFileSystemLimits(extended)) FailWith(operation, path, ERROR_FILENAME_EXCED_RANGE);
  return ToWide(extended);
}

DWORD AttributesOf(const std::wstring& system_path) {
  return GetFileAttributesW(system_path.c_str());
}

// Whether a path whose attributes carry FILE_ATTRIBUTE_REPARSE_POINT is a
// link: only its tag tells a symbolic link or junction from a cloud
// placeholder, which is the file itself.
bool IsLinkReparsePoint(const std::wstring& system_path) {
  WIN32_FIND_DATAW entry{};
  const HANDLE find = FindFirstFileExW(system_path.c_str(), FindExInfoBasic, &entry,
                                       FindExSearchNameMatch, nullptr, 0);
  if (find == INVALID_HANDLE_VALUE) return true;  // unknown: not followed blindly
  FindClose(find);
  // The entry's dwReserved0 holds the tag of a reparse point.
  return IsLinkReparseTag(entry.dwReserved0);
}

// The attributes of `system_path` with FILE_ATTRIBUTE_REPARSE_POINT kept
// only for links.
DWORD LinkAwareAttributesOf(const std::wstring& system_path) {
  const DWORD attributes = AttributesOf(system_path);
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
      IsLinkReparsePoint(system_path)) {
    return attributes;
  }
  return attributes & ~DWORD{FILE_ATTRIBUTE_REPARSE_POINT};
}

unique_kernel_handle Open(const std::wstring& system_path, DWORD access, DWORD share,
                          DWORD disposition, DWORD flags) {
  const HANDLE file =
      CreateFileW(system_path.c_str(), access, share, nullptr, disposition, flags, nullptr);
  return unique_kernel_handle(file == INVALID_HANDLE_VALUE ? nullptr : file);
}

class Win32ReadableFile : public ReadableFile {
 public:
  Win32ReadableFile(unique_kernel_handle file, std::u16string path)
      : file_(std::move(file)), path_(std::move(path)) {}

  std::size_t Read(std::uint8_t* data, std::size_t size) override {
    const DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
    DWORD got = 0;
    if (!ReadFile(file_.get(), data, wanted, &got, nullptr)) Fail("read", path_);
    return got;
  }

  void Seek(std::uint64_t offset) override {
    LARGE_INTEGER to{};
    to.QuadPart = static_cast<LONGLONG>(offset);
    if (!SetFilePointerEx(file_.get(), to, nullptr, FILE_BEGIN)) Fail("seek", path_);
  }

  std::uint64_t Size() override {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file_.get(), &size)) Fail("size of", path_);
    return static_cast<std::uint64_t>(size.QuadPart);
  }

 private:
  unique_kernel_handle file_;
  std::u16string path_;
};

class Win32WritableFile final : public BufferedWritableFile {
 public:
  Win32WritableFile(unique_kernel_handle file, std::u16string path)
      : file_(std::move(file)), path_(std::move(path)) {}
  ~Win32WritableFile() override {
    try {
      if (file_.get() != nullptr) Drain();
    } catch (...) {
    }
  }

  bool Sync() override {
    Drain();
    if (!FlushFileBuffers(file_.get())) Fail("flush", path_);
    return true;
  }

  void Close() override {
    Drain();
    if (!CloseHandle(file_.release())) Fail("close", path_);
  }

 private:
  void WriteThrough(const std::uint8_t* data, std::size_t size) override {
    while (size > 0) {
      const DWORD part = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
      DWORD written = 0;
      if (!WriteFile(file_.get(), data, part, &written, nullptr)) Fail("write", path_);
      data += written;
      size -= written;
    }
  }

  unique_kernel_handle file_;
  std::u16string path_;
};

class FindHandle {
 public:
  explicit FindHandle(HANDLE find) : find_(find) {}
  FindHandle(const FindHandle&) = delete;
  FindHandle& operator=(const FindHandle&) = delete;
  ~FindHandle() {
    if (find_ != INVALID_HANDLE_VALUE) FindClose(find_);
  }
  HANDLE get() const { return find_; }

 private:
  HANDLE find_;
};

void ClearReadOnly(const std::wstring& system_path, DWORD attributes) {
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
    SetFileAttributesW(system_path.c_str(), attributes & ~DWORD{FILE_ATTRIBUTE_READONLY});
  }
}

// Everything below `dir` (a system path), then `dir` itself; a reparse
// point is removed as an entry and never entered.
void RemoveBelow(const std::wstring& dir) {
  WIN32_FIND_DATAW entry{};
  {
    FindHandle find(FindFirstFileExW((dir + L"\\*").c_str(), FindExInfoBasic, &entry,
                                     FindExSearchNameMatch, nullptr, 0));
    if (find.get() != INVALID_HANDLE_VALUE) {
      do {
        const std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..") continue;
        const std::wstring child = dir + L"\\" + name;
        const DWORD attributes = entry.dwFileAttributes;
        ClearReadOnly(child, attributes);
        if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
          DeleteFileW(child.c_str());
        } else if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
          RemoveDirectoryW(child.c_str());
        } else {
          RemoveBelow(child);
        }
      } while (FindNextFileW(find.get(), &entry));
    }
  }
  ClearReadOnly(dir, AttributesOf(dir));
  RemoveDirectoryW(dir.c_str());
}

// The access control list of `source` onto the open `target`; what the
// caller may not set stays as the target's directory gave it.
void CopyAccessControl(const std::wstring& source, HANDLE target) {
  DWORD needed = 0;
  GetFileSecurityW(source.c_str(), DACL_SECURITY_INFORMATION, nullptr, 0, &needed);
  if (needed == 0) return;
  std::vector<std::uint8_t> descriptor(needed);
  if (!GetFileSecurityW(source.c_str(), DACL_SECURITY_INFORMATION, descriptor.data(), needed,
                        &needed)) {
    return;
  }
  SetKernelObjectSecurity(target, DACL_SECURITY_INFORMATION, descriptor.data());
}

// 0, or the system's error number.
DWORD RenameByHandle(HANDLE file, const std::wstring& to) {
  std::vector<std::uint8_t> buffer(sizeof(FILE_RENAME_INFO) + to.size() * sizeof(wchar_t));
  auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  info->ReplaceIfExists = TRUE;
  info->RootDirectory = nullptr;
  info->FileNameLength = static_cast<DWORD>(to.size() * sizeof(wchar_t));
  std::copy(to.begin(), to.end(), info->FileName);
  return SetFileInformationByHandle(file, FileRenameInfo, info, static_cast<DWORD>(buffer.size()))
             ? 0
             : GetLastError();
}

// Whether another program has `system_path` open without letting it be
// deleted, which is what a refused rename over it most often means.
bool HeldByAnotherProgram(const std::wstring& system_path) {
  const HANDLE probe =
      CreateFileW(system_path.c_str(), DELETE, kShareAll, nullptr, OPEN_EXISTING,
                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (probe != INVALID_HANDLE_VALUE) {
    CloseHandle(probe);
    return false;
  }
  return GetLastError() == ERROR_SHARING_VIOLATION;
}

}  // namespace

std::u16string Win32FileSystem::AbsolutePath(const std::u16string& path) {
  const std::u16string absolute = IsAbsolutePath(kWindowsPathStyle, path) ? path : FullPath(path);
  // A name written in its 8.3 form ("ORDERS~1.TXT") would be replaced by a
  // file of that literal name: an existing file is taken by its long name.
  const std::u16string full = FullPath(absolute);
  if (IsDevicePath(full)) return absolute;
  const std::wstring extended = ToWide(ExtendedLengthForm(full));
  std::wstring long_form(extended.size() + MAX_PATH, L'\0');
  for (int tries = 0; tries < 4; ++tries) {
    const DWORD length =
        GetLongPathNameW(extended.c_str(), long_form.data(), static_cast<DWORD>(long_form.size()));
    if (length == 0) return absolute;  // no such file yet: nothing to resolve
    if (length < long_form.size()) {
      long_form.resize(length);
      const std::u16string resolved = OrdinaryForm(FromWide(long_form));
      return resolved == OrdinaryForm(full) ? absolute : resolved;
    }
    long_form.resize(length);
  }
  return absolute;
}

std::unique_ptr<ReadableFile> Win32FileSystem::OpenForRead(const std::u16string& path) {
  const std::wstring system_path = CheckedSystemPath("open", path);
  const DWORD attributes = AttributesOf(system_path);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    throw FileError("open (a directory) " + ToUtf8(path));
  }
  auto file = Open(system_path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING,
                   FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN);
  if (file.get() == nullptr) Fail("open", path);
  if (GetFileType(file.get()) != FILE_TYPE_DISK) FailNotDiskFile("open", path);
  return std::make_unique<Win32ReadableFile>(std::move(file), path);
}

std::unique_ptr<WritableFile> Win32FileSystem::OpenForWrite(const std::u16string& path) {
  const std::wstring system_path = CheckedSystemPath("create", path);
  auto file = Open(system_path, GENERIC_WRITE, FILE_SHARE_READ, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL);
  if (file.get() == nullptr) Fail("create", path);
  if (GetFileType(file.get()) != FILE_TYPE_DISK) FailNotDiskFile("create", path);
  if (!SetEndOfFile(file.get())) Fail("truncate", path);
  return std::make_unique<Win32WritableFile>(std::move(file), path);
}

std::unique_ptr<WritableFile> Win32FileSystem::CreateNew(const std::u16string& path) {
  const std::wstring system_path = CheckedSystemPath("create", path);
  // CREATE_NEW: never a file, link or junction another user made first.
  auto file = Open(system_path, GENERIC_WRITE, FILE_SHARE_READ, CREATE_NEW, FILE_ATTRIBUTE_NORMAL);
  if (file.get() == nullptr) Fail("create", path);
  return std::make_unique<Win32WritableFile>(std::move(file), path);
}

bool Win32FileSystem::ProbeOpenForRead(const std::u16string& path) noexcept {
  try {
    const std::u16string full = FullPath(path);
    if (IsDevicePath(full)) return false;
    const std::wstring system_path = ToWide(ExtendedLengthForm(full));
    const DWORD attributes = AttributesOf(system_path);
    if (attributes == INVALID_FILE_ATTRIBUTES ||
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE))) {
      return false;
    }
    const auto file =
        Open(system_path, GENERIC_READ, FILE_SHARE_WRITE, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
    return file.get() != nullptr && GetFileType(file.get()) == FILE_TYPE_DISK;
  } catch (...) {
    return false;
  }
}

std::uint64_t Win32FileSystem::FileLength(const std::u16string& path) {
  const auto file = Open(CheckedSystemPath("length of", path), FILE_READ_ATTRIBUTES, kShareAll,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
  if (file.get() == nullptr) Fail("length of", path);
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file.get(), &size)) Fail("length of", path);
  return static_cast<std::uint64_t>(size.QuadPart);
}

bool Win32FileSystem::Exists(const std::u16string& path) noexcept {
  try {
    return AttributesOf(SystemPath(path)) != INVALID_FILE_ATTRIBUTES;
  } catch (...) {
    return false;
  }
}

bool Win32FileSystem::IsDirectory(const std::u16string& path) noexcept {
  try {
    const DWORD attributes = AttributesOf(SystemPath(path));
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
  } catch (...) {
    return false;
  }
}

bool Win32FileSystem::IsLink(const std::u16string& path) noexcept {
  try {
    const DWORD attributes = LinkAwareAttributesOf(SystemPath(path));
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
  } catch (...) {
    return false;
  }
}

void Win32FileSystem::CreateDirectory(const std::u16string& path) {
  if (!CreateDirectoryW(CheckedSystemPath("create directory", path).c_str(), nullptr)) {
    Fail("create directory", path);
  }
}

void Win32FileSystem::DeleteFile(const std::u16string& path) {
  if (!DeleteFileW(CheckedSystemPath("delete", path).c_str())) Fail("delete", path);
}

void Win32FileSystem::RenameReplacing(const std::u16string& from, const std::u16string& to) {
  const std::u16string both = from + u" to " + to;
  if (!MoveFileExW(CheckedSystemPath("rename", from).c_str(),
                   CheckedSystemPath("rename", to).c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED)) {
    Fail("rename", both);
  }
}

void Win32FileSystem::RenameNew(const std::u16string& from, const std::u16string& to) {
  if (!MoveFileExW(CheckedSystemPath("rename", from).c_str(),
                   CheckedSystemPath("rename", to).c_str(), 0)) {
    Fail("rename", from + u" to " + to);
  }
}

std::optional<std::uint64_t> Win32FileSystem::FreeSpace(const std::u16string& dir) noexcept {
  try {
    std::wstring where = SystemPath(dir);
    if (where.empty() || where.back() != L'\\') where += L'\\';
    ULARGE_INTEGER available{};
    if (!GetDiskFreeSpaceExW(where.c_str(), &available, nullptr, nullptr)) return std::nullopt;
    return available.QuadPart;
  } catch (...) {
    return std::nullopt;
  }
}

FileKind Win32FileSystem::KindOf(const std::u16string& path) noexcept {
  try {
    const std::u16string full = FullPath(path);
    if (IsDevicePath(full)) return FileKind::kOther;
    const std::u16string extended = ExtendedLengthForm(full);
    // No file can have such a name; the step that tries to make one says
    // why it cannot.
    if (ExceedsFileSystemLimits(extended)) return FileKind::kMissing;
    const DWORD attributes = LinkAwareAttributesOf(ToWide(extended));
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
  const auto file = Open(CheckedSystemPath("follow link", path), 0, kShareAll, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS);
  if (file.get() == nullptr) Fail("follow link", path);
  std::wstring final_path(MAX_PATH, L'\0');
  for (int tries = 0; tries < 4; ++tries) {
    const DWORD length = GetFinalPathNameByHandleW(file.get(), final_path.data(),
                                                   static_cast<DWORD>(final_path.size()),
                                                   FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0) Fail("follow link", path);
    if (length < final_path.size()) {
      final_path.resize(length);
      // "\\?\C:\dir\file" names the same file as "C:\dir\file", which is
      // what the archive control is given as its directory.
      return OrdinaryForm(FromWide(final_path));
    }
    final_path.resize(length);
  }
  FailWith("follow link", path, ERROR_FILENAME_EXCED_RANGE);
}

void Win32FileSystem::CreatePrivateDirectory(const std::u16string& path) { CreateDirectory(path); }

void Win32FileSystem::RemoveTree(const std::u16string& path) noexcept {
  try {
    const std::u16string full = FullPath(path);
    if (IsDevicePath(full)) return;
    const std::wstring system_path = ToWide(ExtendedLengthForm(full));
    const DWORD attributes = AttributesOf(system_path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return;
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
      ClearReadOnly(system_path, attributes);
      DeleteFileW(system_path.c_str());
    } else if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
      RemoveDirectoryW(system_path.c_str());
    } else {
      RemoveBelow(system_path);
    }
  } catch (...) {
  }
}

bool Win32FileSystem::IsReadOnly(const std::u16string& path) noexcept {
  try {
    const DWORD attributes = AttributesOf(SystemPath(path));
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
  } catch (...) {
    return false;
  }
}

void Win32FileSystem::CopyPermissions(const std::u16string& from, const std::u16string& to) {
  const std::wstring source = CheckedSystemPath("attributes of", from);
  const std::wstring target = CheckedSystemPath("attributes of", to);
  const DWORD old_attributes = AttributesOf(source);
  if (old_attributes == INVALID_FILE_ATTRIBUTES) Fail("attributes of", from);
  const DWORD attributes = AttributesOf(target);
  if (attributes == INVALID_FILE_ATTRIBUTES) Fail("attributes of", to);
  DWORD wanted = (attributes & ~(kCarriedAttributes | DWORD{FILE_ATTRIBUTE_NORMAL})) |
                 (old_attributes & kCarriedAttributes) | FILE_ATTRIBUTE_ARCHIVE;
  if (wanted != attributes && !SetFileAttributesW(target.c_str(), wanted)) {
    Fail("set attributes of", to);
  }
}

std::string Win32FileSystem::ReplaceDurably(const std::u16string& from, const std::u16string& to) {
  const std::wstring source = CheckedSystemPath("replace", from);
  const std::wstring target = CheckedSystemPath("replace", to);
  const DWORD target_attributes = AttributesOf(target);
  if (target_attributes != INVALID_FILE_ATTRIBUTES &&
      (target_attributes & FILE_ATTRIBUTE_READONLY)) {
    const std::string reason(FaultWords(FileFault::kReadOnly));
    throw FileError("replace " + ToUtf8(to) + ": " + reason + " (" +
                        DescribeWin32FileError(ERROR_ACCESS_DENIED) + ")",
                    FileFault::kReadOnly, reason);
  }
  // The rename's access is granted as the handle opens: the list copied
  // onto it below cannot take it away again. Copying the list is a
  // courtesy: a share with Change rights, or a folder that keeps its
  // users from changing permissions, refuses WRITE_DAC, and the new file
  // then keeps the list it inherited.
  std::string note;
  auto file = Open(source, GENERIC_WRITE | DELETE | WRITE_DAC | READ_CONTROL, FILE_SHARE_READ,
                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
  if (file.get() == nullptr && GetLastError() == ERROR_ACCESS_DENIED) {
    file =
        Open(source, GENERIC_WRITE | DELETE, FILE_SHARE_READ, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
    if (file.get() != nullptr && target_attributes != INVALID_FILE_ATTRIBUTES) {
      note = ToUtf8(to) + " keeps the access control list its folder gives it: the old list " +
             "may not be set here (" + DescribeWin32FileError(ERROR_ACCESS_DENIED) + ")";
    }
  }
  if (file.get() == nullptr) {
    // A scanner looking at the fresh file lets go within moments.
    const DWORD code = GetLastError();
    FileError error = Win32FileError("open", from, code, SystemWords(code));
    error.transient = IsTransientWin32FileError(code);
    throw error;
  }
  if (!FlushFileBuffers(file.get())) Fail("flush", from);
  if (note.empty() && target_attributes != INVALID_FILE_ATTRIBUTES) {
    CopyAccessControl(target, file.get());
  }
  if (const DWORD code = RenameByHandle(file.get(), target); code != 0) {
    FileError error = Win32FileError("replace", to, code, SystemWords(code));
    if (code == ERROR_ACCESS_DENIED && HeldByAnotherProgram(target)) {
      const std::string reason(FaultWords(FileFault::kInUse));
      error = FileError(
          "replace " + ToUtf8(to) + ": " + reason + " (" + DescribeWin32FileError(code) +
              "; opening it for deletion: " + DescribeWin32FileError(ERROR_SHARING_VIOLATION) + ")",
          FileFault::kInUse, reason);
    }
    error.transient = IsTransientWin32FileError(code);
    throw error;
  }
  // The new directory entry, on the same handle.
  FlushFileBuffers(file.get());
  return note;
}

}  // namespace tolvex::win32
