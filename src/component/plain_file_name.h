// Whether a name can be one file of its own in a directory of this
// platform. The receive job joins the company code's member name to its
// work directory, so a name that leaves it, names a device or cannot be
// created there is refused before the server is asked for anything.
#pragma once

#include <string_view>

#include "component/path_style.h"

namespace tolvex {

// Not empty, not "." or "..", no separator of either kind (the archiver
// splits member names at both). On Windows also no drive or stream colon,
// none of the characters the system forbids in names (< > " | ? * and
// control characters), no trailing dot or space (the system drops them)
// and none of the reserved device names (CON, PRN, AUX, NUL, COM0-9,
// LPT0-9, CONIN$, CONOUT$), with an extension or without.
bool IsPlainFileName(const PathStyle& style, std::u16string_view name);

}  // namespace tolvex
