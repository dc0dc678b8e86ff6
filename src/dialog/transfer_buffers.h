// The payload buffers of the two jobs, each held once: the request body is
// built as wire bytes in one buffer sized to its bound, and the reply is
// decoded where it lies. UTF-16 stays for the component's own strings.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "component/file_system.h"
#include "component/job_state.h"
#include "net/http_session.h"

namespace tolvex {

using Bytes = std::vector<std::uint8_t>;

// The 63-character request header in the wire's code page.
Bytes RequestHeaderBody(HttpSession& http, const TransferJob& job);

// The request header followed by the form-encoded content of the file at
// `archive_path`, read and encoded a piece at a time straight into the
// body. Throws FileError when the file cannot be read whole or is empty.
Bytes SendBodyFromArchive(HttpSession& http, const TransferJob& job, FileSystem& files,
                          const std::u16string& archive_path);

// The archive a GetSOData data reply carries: the bytes after the status,
// decoded in the reply's own storage, which the result takes over (the
// reply is left empty). Throws DecodeError when an escape is malformed.
Bytes TakeDecodedPayload(Bytes& reply);

}  // namespace tolvex
