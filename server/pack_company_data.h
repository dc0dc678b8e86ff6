#pragma once

#include <filesystem>

#include "net/form_codec.h"

namespace tolvex::server {

// A zip archive holding the one file `data` under its own name, as the
// client's archiver expects to find <CODE>.dat. Throws std::runtime_error
// when the file cannot be read or is too large for a plain zip.
// TODO(lead): pack through ZipArchiver once the archive branch is merged,
// so the server and the client share one zip writer.
Bytes PackCompanyData(const std::filesystem::path& data);

}  // namespace tolvex::server
