// The payloads of the two jobs, never held whole: the request body is
// encoded from the packed archive as it is sent, and the reply is decoded
// into the work file as it arrives (archive_reply_sink.h). UTF-16 stays
// for the component's own strings.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "component/bytes.h"
#include "component/file_system.h"
#include "component/job_state.h"
#include "component/trace.h"
#include "net/form_stream.h"
#include "net/http_session.h"

namespace tolvex {

// The 63-character request header in the wire's code page.
Bytes RequestHeaderBody(HttpSession& http, const TransferJob& job);

// The request header followed by the form-encoded content of the archive
// file, encoded a piece at a time as the connection asks for it. Its
// length is counted from the file when it is made, and the body sent is
// exactly that long and of exactly the bytes counted: a file that grows,
// shrinks or changes meanwhile fails the body before its last bytes go.
class ArchiveBody : public RequestBody {
 public:
  // Throws FileError when the file cannot be read whole or is empty. A
  // failure while the body is sent is recorded in `trace` as it happens,
  // so it stands as the call's cause.
  ArchiveBody(HttpSession& http, const TransferJob& job, FileSystem& files,
              const std::u16string& archive_path, Trace& trace);

  std::uint64_t Size() const override { return size_; }
  std::size_t Read(std::uint8_t* buffer, std::size_t capacity) noexcept override;

  bool Failed() const override { return failed_; }

  std::uint64_t archive_size() const { return archive_size_; }

 private:
  bool Refill();
  // Before the last bytes of the body: the archive was read exactly to its
  // counted end and has no more.
  bool EndsAsCounted();
  void Fail(std::string what, std::string detail);

  std::unique_ptr<ReadableFile> file_;
  std::uint64_t archive_size_ = 0;
  std::uint64_t size_ = 0;
  std::uint64_t delivered_ = 0;
  // CRC-32 of the archive's bytes as counted and as encoded for sending.
  unsigned long counted_crc_ = 0;
  unsigned long sent_crc_ = 0;
  Bytes pending_;  // the header, then each encoded piece
  std::size_t pending_offset_ = 0;
  FormEncoder encoder_;
  Trace& trace_;
  bool failed_ = false;
};

}  // namespace tolvex
