// The forms of a Windows path the file-system back end passes to the
// system. Free of Windows headers, so the rules are checked on every build
// host.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tolvex::win32 {

// Absolute as Windows reads it: a drive and its root ("C:\", "C:/"), or
// two separators first (a share, or a "\\?\" or "\\.\" path). "\x" and
// "C:x" depend on the current drive or its directory, so they are not.
bool IsAbsoluteWindowsPath(std::u16string_view path);

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

// Whether a reparse point of this tag redirects to another path: symbolic
// links and mount points (junctions) do. Every other tag (OneDrive's and
// other cloud placeholders, deduplicated files, tags we do not know) marks
// a file that is what it names, read and replaced as a plain file. A tag of
// 0 is one the system did not tell: taken for a link, which is never
// written through blindly.
bool IsLinkReparseTag(std::uint32_t tag);

}  // namespace tolvex::win32
