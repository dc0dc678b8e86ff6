// How a platform builds local paths from a directory and a file name.
// Windows keeps its historical rules: "\" joins, only "\" separates levels
// of the directory chain, and an empty directory means the drive's root.
// On POSIX "/" joins, every missing ancestor is created, and an empty
// directory means the current directory, and "/" the filesystem root.
#pragma once

#include <string>
#include <string_view>

namespace tolvex {

struct PathStyle {
  char16_t separator;
  bool create_ancestors;      // the chain creates every missing ancestor
  bool empty_dir_is_current;  // "" + name is "name", not "<sep>name"
};

inline constexpr PathStyle kWindowsPathStyle{u'\\', false, false};
inline constexpr PathStyle kPosixPathStyle{u'/', true, true};

#ifdef _WIN32
inline constexpr PathStyle kNativePathStyle = kWindowsPathStyle;
#else
inline constexpr PathStyle kNativePathStyle = kPosixPathStyle;
#endif

// The characters that end a directory in a path: both slashes on
// Windows, "/" alone on POSIX, where "\\" is part of a name.
inline std::u16string_view Separators(const PathStyle& style) {
  return style.separator == u'\\' ? u"/\\" : u"/";
}

inline std::u16string JoinPath(const PathStyle& style, std::u16string_view dir,
                               std::u16string_view name) {
  std::u16string path(dir);
  // "/" as a directory is the POSIX root, which ends in its separator.
  const bool root = style.empty_dir_is_current && dir == u"/";
  if (!(dir.empty() && style.empty_dir_is_current) && !root) path += style.separator;
  path += name;
  return path;
}

}  // namespace tolvex
