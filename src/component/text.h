// Wide-string helpers. Component strings are UTF-16, as automation strings
// are, so lengths, trimming and field cuts count UTF-16 units everywhere.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "component/bytes.h"

namespace tolvex {

// Removes U+0020 only; other white space is data.
std::u16string TrimSpaces(std::u16string_view s);
std::u16string TrimTrailingSpaces(std::u16string_view s);

// Whether s begins with prefix, ASCII letters compared without case.
bool StartsWithIgnoringAsciiCase(std::u16string_view s, std::u16string_view prefix);

// Left-justifies s in a field of exactly width units: pads with U+0020 or
// cuts on the right.
std::u16string FitField(std::u16string_view s, std::size_t width);

// UTF-8 <-> UTF-16 at the edges (terminal, file names on POSIX). Invalid
// sequences become U+FFFD rather than failing.
std::string ToUtf8(std::u16string_view s);
std::u16string FromUtf8(std::string_view s);

}  // namespace tolvex
