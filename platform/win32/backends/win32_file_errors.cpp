#include "backends/win32_file_errors.h"

#include "component/text.h"

namespace tolvex::win32 {
namespace {

struct Win32FileErrorEntry {
  std::uint32_t code;
  const char* name;
  FileFault fault;
  const char* words;  // null: the fault's words
};

// The errors a user meets in file operations, in order of their numbers.
constexpr Win32FileErrorEntry kErrors[] = {
    {1, "ERROR_INVALID_FUNCTION", FileFault::kNotDiskFile, nullptr},
    {2, "ERROR_FILE_NOT_FOUND", FileFault::kNotFound, nullptr},
    {3, "ERROR_PATH_NOT_FOUND", FileFault::kNotFound, "the directory is not found"},
    {5, "ERROR_ACCESS_DENIED", FileFault::kAccessDenied, nullptr},
    {15, "ERROR_INVALID_DRIVE", FileFault::kNotFound, "the drive is not found"},
    {17, "ERROR_NOT_SAME_DEVICE", FileFault::kOther, "the file lies on another drive"},
    {19, "ERROR_WRITE_PROTECT", FileFault::kReadOnly, "the disk is write-protected"},
    {21, "ERROR_NOT_READY", FileFault::kOther, "the drive is not ready"},
    {32, "ERROR_SHARING_VIOLATION", FileFault::kInUse, nullptr},
    {33, "ERROR_LOCK_VIOLATION", FileFault::kInUse,
     "part of the file is locked by another program"},
    {39, "ERROR_HANDLE_DISK_FULL", FileFault::kDiskFull, nullptr},
    {53, "ERROR_BAD_NETPATH", FileFault::kNotFound, "the network path is not found"},
    {59, "ERROR_UNEXP_NET_ERR", FileFault::kOther, "the network failed"},
    {64, "ERROR_NETNAME_DELETED", FileFault::kOther, "the network name is no longer available"},
    {66, "ERROR_BAD_DEV_TYPE", FileFault::kNotDiskFile, nullptr},
    {67, "ERROR_BAD_NET_NAME", FileFault::kNotFound, "the network share is not found"},
    {80, "ERROR_FILE_EXISTS", FileFault::kExists, nullptr},
    {87, "ERROR_INVALID_PARAMETER", FileFault::kOther, "the system refused the request"},
    {112, "ERROR_DISK_FULL", FileFault::kDiskFull, nullptr},
    {123, "ERROR_INVALID_NAME", FileFault::kOther, "the name is not valid"},
    {145, "ERROR_DIR_NOT_EMPTY", FileFault::kExists, "the directory is not empty"},
    {161, "ERROR_BAD_PATHNAME", FileFault::kOther, "the name is not valid"},
    {183, "ERROR_ALREADY_EXISTS", FileFault::kExists, nullptr},
    {206, "ERROR_FILENAME_EXCED_RANGE", FileFault::kPathTooLong, nullptr},
    {1224, "ERROR_USER_MAPPED_FILE", FileFault::kInUse, nullptr},
    {1920, "ERROR_CANT_ACCESS_FILE", FileFault::kAccessDenied, nullptr},
};

const Win32FileErrorEntry* Find(std::uint32_t code) {
  for (const auto& entry : kErrors) {
    if (entry.code == code) return &entry;
  }
  return nullptr;
}

}  // namespace

std::string_view Win32FileErrorName(std::uint32_t code) {
  const auto* entry = Find(code);
  return entry != nullptr ? entry->name : "";
}

FileFault Win32FileFault(std::uint32_t code) {
  const auto* entry = Find(code);
  return entry != nullptr ? entry->fault : FileFault::kOther;
}

std::string_view Win32FileErrorWords(std::uint32_t code) {
  const auto* entry = Find(code);
  if (entry == nullptr) return "";
  return entry->words != nullptr ? entry->words : FaultWords(entry->fault);
}

bool IsTransientWin32FileError(std::uint32_t code) {
  return code == 5 || code == 32 || code == 33 || code == 1224;
}

std::string DescribeWin32FileError(std::uint32_t code) {
  std::string text = "Windows error " + std::to_string(code);
  const std::string_view name = Win32FileErrorName(code);
  if (!name.empty()) text += " " + std::string(name);
  return text;
}

FileError Win32FileError(std::string_view operation, std::u16string_view path, std::uint32_t code,
                         std::string_view system_words) {
  std::string reason(Win32FileErrorWords(code));
  if (reason.empty()) reason = system_words.empty() ? "the operation failed" : system_words;
  const std::string message = std::string(operation) + " " + ToUtf8(path) + ": " + reason + " (" +
                              DescribeWin32FileError(code) + ")";
  return FileError(message, Win32FileFault(code), reason, false);
}

}  // namespace tolvex::win32
