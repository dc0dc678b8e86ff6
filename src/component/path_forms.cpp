#include "component/path_forms.h"

#include <algorithm>

namespace tolvex {
namespace {

bool IsWindowsSeparator(char16_t c) { return IsSeparator(kWindowsPathStyle, c); }

bool IsDriveLetter(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }

// "C:\" at `at`.
bool HasDriveRoot(std::u16string_view path, std::size_t at) {
  return path.size() >= at + 3 && IsDriveLetter(path[at]) && path[at + 1] == u':' &&
         IsWindowsSeparator(path[at + 2]);
}

// Two separators first: a share, or a "\\?\" or "\\.\" path.
bool HasDoubleSeparator(std::u16string_view path) {
  return path.size() >= 2 && IsWindowsSeparator(path[0]) && IsWindowsSeparator(path[1]);
}

bool StartsWith(std::u16string_view text, std::u16string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// The end of the component that starts at `from`: the next separator, or
// the end of the path.
std::size_t ComponentEnd(std::u16string_view path, std::size_t from) {
  while (from < path.size() && !IsWindowsSeparator(path[from])) ++from;
  return from;
}

std::size_t WindowsRootLength(std::u16string_view path) {
  if (path.size() >= 2 && path[1] == u':') return 2;
  if (!HasDoubleSeparator(path)) return 0;
  if (path.size() >= 4 && (path[2] == u'?' || path[2] == u'.') && IsWindowsSeparator(path[3])) {
    const std::size_t first = ComponentEnd(path, 4);
    const std::u16string_view name = path.substr(4, first - 4);
    if (name == u"UNC" || name == u"unc") {
      return ComponentEnd(path, std::min(path.size(), ComponentEnd(path, first + 1) + 1));
    }
    return first;
  }
  // "\\server\share": the server, then the share.
  return ComponentEnd(path, std::min(path.size(), ComponentEnd(path, 2) + 1));
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

bool IsSeparator(const PathStyle& style, char16_t c) {
  return Separators(style).find(c) != std::u16string_view::npos;
}

std::size_t RootLength(const PathStyle& style, std::u16string_view path) {
  if (style.separator == u'\\') return WindowsRootLength(path);
  return !path.empty() && path[0] == u'/' ? 1 : 0;
}

bool IsAbsolutePath(const PathStyle& style, std::u16string_view path) {
  if (style.separator == u'\\') return HasDriveRoot(path, 0) || HasDoubleSeparator(path);
  return !path.empty() && path[0] == u'/';
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
  if (full_path.size() > 2 && HasDoubleSeparator(full_path)) {
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
    name = IsWindowsSeparator(c) ? 0 : name + 1;
    if (name > kLongestName) return true;
  }
  return false;
}

}  // namespace tolvex
