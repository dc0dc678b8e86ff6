// What the Win32 file system reads from the system about a path beyond the
// path's own forms (those are component/path_forms.h). Free of Windows
// headers, so the rules are checked on every build host.
#pragma once

#include <cstdint>

namespace tolvex::win32 {

// Whether a reparse point of this tag redirects to another path: symbolic
// links and mount points (junctions) do. Every other tag (OneDrive's and
// other cloud placeholders, deduplicated files, tags we do not know) marks
// a file that is what it names, read and replaced as a plain file. A tag of
// 0 is one the system did not tell: taken for a link, which is never
// written through blindly.
bool IsLinkReparseTag(std::uint32_t tag);

}  // namespace tolvex::win32
