// Streaming one member out of an archive with bounded memory.
#pragma once

#include "archive/archive_input.h"
#include "archive/zip_directory.h"
#include "component/file_system.h"

namespace tolvex::zip {

// Writes the member's data to `out` (not closed here) and checks it against
// the directory: the output never grows beyond the declared size, the
// compressed data must end exactly where the declared compressed size
// ends, and the CRC must match. Throws ArchiveFailure.
void ExtractMember(ArchiveInput& archive, const ZipMember& member, WritableFile& out);

}  // namespace tolvex::zip
