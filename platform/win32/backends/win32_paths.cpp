#include "backends/win32_paths.h"

namespace tolvex::win32 {
namespace {

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

bool IsDriveLetter(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }

// "C:\" at `at`.
bool HasDriveRoot(std::u16string_view path, std::size_t at) {
  return path.size() >= at + 3 && IsDriveLetter(path[at]) && path[at + 1] == u':' &&
         IsSeparator(path[at + 2]);
}

bool StartsWith(std::u16string_view text, std::u16string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

constexpr std::size_t kLongestName = 255;
constexpr std::size_t kLongestPath = 32767;

// The extended form takes "\" alone as a separator.
std::u16string Prefixed(std::u16string_view prefix, std::u16string_view rest) {
  std::u16string path(prefix);
  for (const char16_t c : rest) path += c == u'/' ? u'\\' : c;
  return path;
}

}  // namespace

bool IsAbsoluteWindowsPath(std::u16string_view path) {
  return HasDriveRoot(path, 0) ||
         (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1]));
}

bool IsDevicePath(std::u16string_view full_path) {
  return StartsWith(full_path, u"\\\\.\\") && !HasDriveRoot(full_path, 4);
}

std::u16string ExtendedLengthForm(std::u16string_view full_path) {
  if (StartsWith(full_path, u"\\\\?\\")) return std::u16string(full_path);
  if (StartsWith(full_path, u"\\\\.\\")) {
    if (!HasDriveRoot(full_path, 4)) return std::u16string(full_path);
    return Prefixed(u"\\\\?\\", full_path.substr(4));
  }
  if (HasDriveRoot(full_path, 0)) return Prefixed(u"\\\\?\\", full_path);
  if (full_path.size() > 2 && IsSeparator(full_path[0]) && IsSeparator(full_path[1])) {
    return Prefixed(u"\\\\?\\UNC\\", full_path.substr(2));
  }
  return std::u16string(full_path);
}

std::u16string OrdinaryForm(std::u16string_view path) {
  if (StartsWith(path, u"\\\\?\\UNC\\")) return u"\\\\" + std::u16string(path.substr(8));
  if (StartsWith(path, u"\\\\?\\") && HasDriveRoot(path, 4)) return std::u16string(path.substr(4));
  return std::u16string(path);
}

bool ExceedsFileSystemLimits(std::u16string_view extended_path) {
  if (extended_path.size() > kLongestPath) return true;
  std::size_t name = 0;
  for (const char16_t c : extended_path) {
    name = IsSeparator(c) ? 0 : name + 1;
    if (name > kLongestName) return true;
  }
  return false;
}

bool IsLinkReparseTag(std::uint32_t tag) {
  constexpr std::uint32_t kSymbolicLink = 0xA000000C;  // IO_REPARSE_TAG_SYMLINK
  constexpr std::uint32_t kMountPoint = 0xA0000003;    // IO_REPARSE_TAG_MOUNT_POINT
  return tag == 0 || tag == kSymbolicLink || tag == kMountPoint;
}

}  // namespace tolvex::win32
