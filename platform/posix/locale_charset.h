// The POSIX counterpart of the system ANSI code page: the charset of the
// current LC_CTYPE locale. Strings go to the wire in this form.
#pragma once

#include <string>
#include <string_view>

namespace tolvex::posix {

// Characters the charset cannot hold become '?', as the code-page
// conversion on Windows substitutes its default character.
std::string ToLocaleCharset(std::u16string_view text);

}  // namespace tolvex::posix
