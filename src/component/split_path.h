#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace tolvex {

struct PathParts {
  std::u16string dir;   // before the last "/" or "\"; "" without one
  std::u16string file;  // after it; the whole path without one
};

// The scan index is a 16-bit Integer in the component's contract, so a path
// longer than 32767 characters is an overflow, not a split.
struct PathOverflow : std::overflow_error {
  PathOverflow() : std::overflow_error("path longer than 32767 characters") {}
};

PathParts SplitPath(std::u16string_view path);

}  // namespace tolvex
