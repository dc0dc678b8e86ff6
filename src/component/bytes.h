// A run of bytes held whole: a request or a reply, a file's data, a piece
// of an archive.
#pragma once

#include <cstdint>
#include <vector>

namespace tolvex {

using Bytes = std::vector<std::uint8_t>;

}  // namespace tolvex
