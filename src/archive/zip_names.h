// Member names: decoding the stored bytes and deciding whether a name may
// be written below the target directory on every platform we build for.
#pragma once

#include <string>
#include <string_view>

#include "component/path_style.h"

namespace tolvex::zip {

// Names flagged as UTF-8 must be valid UTF-8. Unflagged names are taken as
// UTF-8 when they are valid UTF-8 (what Info-ZIP on POSIX writes) and as
// code page 437 otherwise. Throws ArchiveFailure(kUnsafeName) on a bad
// flagged name or an embedded NUL.
std::u16string DecodeMemberName(std::string_view raw, bool utf8_flag);

// Throws ArchiveFailure(kUnsafeName) unless `name` is a relative path of
// plain components separated by '/' that means the same file on Windows and
// POSIX: no root, drive, stream or backslash, no "." or ".." or empty
// component, no reserved device name, no character Windows refuses, no
// trailing dot or space. A directory member's single trailing '/' is
// allowed.
void CheckMemberName(const std::u16string& name);

bool IsDirectoryName(const std::u16string& name);

// The key under which two names count as the same file: ASCII letters
// folded (Windows file names ignore their case), trailing '/' removed.
std::u16string NameKey(std::u16string_view name);

// The last component of a local path, for storing a file under its bare
// name: splits at '/' and at the style's separator.
std::u16string BareName(const std::u16string& path, const PathStyle& style);

// A name fit to quote in an error text (control characters replaced).
std::u16string PrintableName(std::u16string_view name);

}  // namespace tolvex::zip
