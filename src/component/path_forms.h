// How a path's leading characters read under a PathStyle: its root, whether
// it is absolute, and the forms of a Windows path the file system is handed.
// Free of platform headers, so the Windows rules are checked on every build
// host; the dialog's local files and the Win32 file system both read paths
// by these rules.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "component/path_style.h"

namespace tolvex {

// Whether `c` ends a directory: "\" and "/" on Windows, "/" alone on POSIX.
bool IsSeparator(const PathStyle& style, char16_t c);

// How many leading characters of `path` name its root, which is never
// created. Windows: "C:" of "C:\a", "\\server\share" of a share, "\\?\C:"
// and "\\?\UNC\server\share" of the long forms, the device of a "\\.\"
// path; 0 for a path from the root of the current drive or none. POSIX:
// the "/" of an absolute path, 0 for a relative one.
std::size_t RootLength(const PathStyle& style, std::u16string_view path);

// Absolute as the style reads it. Windows: a drive and its root ("C:\",
// "C:/"), or two separators first (a share, or a "\\?\" or "\\.\" path);
// "\x" and "C:x" depend on the current drive or its directory, so they are
// not. POSIX: "/" first.
bool IsAbsolutePath(const PathStyle& style, std::u16string_view path);

// The rest are Windows forms alone.

// A device in the "\\.\" namespace ("\\.\COM1", "\\.\pipe\x"), as the
// system's full-path rules turn "NUL" or "C:\work\COM1" into; a disk path
// written that way ("\\.\C:\x") is none.
bool IsDevicePath(std::u16string_view full_path);

// The extended-length form of a full path, which no MAX_PATH limit cuts
// short: "C:\a" becomes "\\?\C:\a", "\\server\share\a" becomes
// "\\?\UNC\server\share\a", "\\.\C:\a" becomes "\\?\C:\a". A path already in
// that form, a device, or anything else stays as it is. `full_path` must
// be normalised already ("\" only, no "." or ".." components), as the
// system's GetFullPathNameW leaves it.
std::u16string ExtendedLengthForm(std::u16string_view full_path);

// The form back that the rest of the component shows and gives to the
// archive control: "\\?\C:\a" as "C:\a", "\\?\UNC\s\x" as "\\s\x".
std::u16string OrdinaryForm(std::u16string_view path);

// More than the file systems of Windows take: a name of more than 255
// characters, or a whole path past the 32767 of the extended form.
bool ExceedsFileSystemLimits(std::u16string_view extended_path);

}  // namespace tolvex
