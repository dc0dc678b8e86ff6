// The decoder's fast lane: sixteen encoded bytes at a time where the
// processor has byte shuffles. An archive's reply is mostly escapes, which
// a walk of one token at a time decodes at well under half a gigabyte a
// second; whatever this lane cannot take whole (the last bytes, a
// malformed escape) it leaves to that walk, which says where it failed.
#pragma once

#include <cstdint>

namespace tolvex::form_blocks {

// Decodes blocks of 16 bytes from `src`, a token start, while a block ends
// by `stop` and the two bytes after it come before `end`, and stops before
// the first block holding a malformed escape. Leaves `src` at a token
// start and `dst` just after the bytes decoded. A block is stored with
// 16-byte writes: the caller gives each input byte before `stop` a byte of
// room at `dst`, as no token decodes to more bytes than it takes. Does
// nothing on a processor without the instructions.
void DecodeBlocks(const std::uint8_t*& src, const std::uint8_t* stop, const std::uint8_t* end,
                  std::uint8_t*& dst);

}  // namespace tolvex::form_blocks
