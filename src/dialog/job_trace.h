// What the jobs tell the trace about a reply and about their file steps.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include "component/bytes.h"
#include "component/file_system.h"
#include "component/trace.h"
#include "dialog/local_files.h"

namespace tolvex {

// "HTTP/1.1 500 Internal Server Error; reply 17 bytes \"<html>...\"": the
// status line when the back end saw one, and the start of the reply.
std::string ReplyDetail(const Trace& trace, const Bytes& reply);

// Records why the reply ended the job with `result` (90, 92 or 93): an
// HTTP error page is named as such, whatever its body.
void FailOnReply(Trace& trace, std::int16_t result, const Bytes& reply);

// Records a failed step with the exception's own text (the file operation
// and path of a FileError, the archiver's error).
void FailOnError(Trace& trace, std::string what, const std::exception& error);

// Records why the received file did not take the place of the caller's
// `file`: the file and the reason in words, where the data was kept (or
// why it could not be), and the system's error behind it.
void FailOnPlacement(Trace& trace, const std::u16string& file, const FileError& error, int attempts,
                     const std::string& elapsed, const Kept& kept);

// "the received archive was kept in /d/orders.txt.received-....zip", or why
// it could not be; `what` names the data ("archive", "data").
std::string KeptNote(const Kept& kept, std::string_view what);

// The reason of a FileError in plain words.
std::string ReasonOf(const FileError& error);

// "error 3: CRC error: C001.dat" from the archive control's number and text.
std::string ArchiveErrorDetail(std::int32_t error, std::u16string_view text);

}  // namespace tolvex
