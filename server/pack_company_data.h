#pragma once

#include <filesystem>

#include "component/file_system.h"
#include "net/form_codec.h"

namespace tolvex::server {

// A zip archive holding the one file `data` under its own name, as the
// client's archiver expects to find <CODE>.dat; written by the same zip
// writer the client packs with. Throws std::runtime_error when the file
// cannot be read.
Bytes PackCompanyData(const std::filesystem::path& data);
// The same archive written to `out`, a piece at a time.
void PackCompanyDataInto(const std::filesystem::path& data, WritableFile& out);

}  // namespace tolvex::server
