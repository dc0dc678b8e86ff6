// What the jobs tell the trace about a reply and about their file steps.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include "component/trace.h"

namespace tolvex {

using Bytes = std::vector<std::uint8_t>;

// "HTTP/1.1 500 Internal Server Error; reply 17 bytes \"<html>...\"": the
// status line when the back end saw one, and the start of the reply.
std::string ReplyDetail(const Trace& trace, const Bytes& reply);

// Records why the reply ended the job with `result` (90, 92 or 93): an
// HTTP error page is named as such, whatever its body.
void FailOnReply(Trace& trace, std::int16_t result, const Bytes& reply);

// Records a failed step with the exception's own text (the file operation
// and path of a FileError, the archiver's error).
void FailOnError(Trace& trace, std::string what, const std::exception& error);

// "error 3: CRC error: C001.dat" from the archive control's number and text.
std::string ArchiveErrorDetail(std::int32_t error, std::u16string_view text);

}  // namespace tolvex
