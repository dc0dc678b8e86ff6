// A GetSOData reply taken as it arrives. ResponseBytes gets the status
// byte and, for a data reply, the first bytes of the payload, so the reply
// is classified and traced as if it were held whole; any other reply is
// small and is held whole (up to kHeldReplyLimit bytes, only counted
// beyond). The payload of a data reply is decoded piece by piece and
// written straight into the work file, which the job opens at the first
// payload byte: the archive never exists whole in memory.
//
// Used on the thread that runs the post, then, once the post is over, by
// the job on its own thread; never by both at once.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "component/file_system.h"
#include "net/form_stream.h"
#include "net/post_request.h"

namespace tolvex {

// More than any reply but data needs: the rest of a longer one is counted.
inline constexpr std::size_t kHeldReplyLimit = 1 << 20;
// The payload's first bytes kept in ResponseBytes behind the status.
inline constexpr std::size_t kHeldPayloadHead = 63;

class ArchiveReplySink : public ReplySink {
 public:
  // Makes the work file when the payload's first byte arrives; nothing
  // when the job will not take the payload (it has recorded why). A
  // FileError from it counts as a failed write.
  using OpenWorkFile = std::function<std::unique_ptr<WritableFile>()>;

  ArchiveReplySink(Bytes& ResponseBytes, OpenWorkFile open_work_file);

  void Begin(std::optional<std::uint64_t> announced) override;
  // False once the payload has proved malformed: nothing after it counts.
  bool Take(const std::uint8_t* data, std::size_t n) override;

  // After a post that read the whole reply: the end of the payload. Throws
  // the DecodeError of a malformed or cut escape first, as the whole
  // payload decoded at once would, then the FileError of a failed write or
  // of closing the work file.
  void Finish();

  std::uint64_t Received() const override { return received_; }
  // Decoded bytes of the payload, written or not.
  std::uint64_t decoded() const { return decoded_; }
  // Time spent decoding and writing, for the trace.
  double decode_ms() const { return decode_ms_; }
  double write_ms() const { return write_ms_; }

 private:
  void TakePayload(const std::uint8_t* data, std::size_t n);
  void WritePending();

  Bytes& response_;
  OpenWorkFile open_work_file_;
  std::uint64_t received_ = 0;
  std::uint64_t decoded_ = 0;
  bool opened_ = false;
  std::unique_ptr<WritableFile> file_;
  FormDecoder decoder_;
  Bytes pending_;  // decoded, not yet written
  std::optional<DecodeError> decode_error_;
  std::optional<std::string> write_error_;
  double decode_ms_ = 0;
  double write_ms_ = 0;
};

}  // namespace tolvex
