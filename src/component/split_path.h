#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

#include "component/path_style.h"

namespace tolvex {

struct PathParts {
  std::u16string dir;   // before the last "/" or (on Windows) "\"; "" without one
  std::u16string file;  // after it; the whole path without one
};

// The scan index is a 16-bit Integer in the component's contract, so a path
// longer than 32767 characters is an overflow, not a split.
struct PathOverflow : std::overflow_error {
  PathOverflow() : std::overflow_error("path longer than 32767 characters") {}
};

// On POSIX a name right under the root ("/p.txt") keeps "/" as its
// directory: "" would be the current directory there. Windows reads "" as
// the root of the current drive, as "\p.txt" means.
PathParts SplitPath(std::u16string_view path, const PathStyle& style = kNativePathStyle);

}  // namespace tolvex
