#include "dialog/transfer_buffers.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <utility>

#include <zlib.h>

#include "net/form_stream.h"
#include "net/servlet_protocol.h"

namespace tolvex {
Bytes RequestHeaderBody(HttpSession& http, const TransferJob& job) {
  const std::string header = http.WireText(BuildRequestHeader(job));
  return Bytes(header.begin(), header.end());
}

ArchiveBody::ArchiveBody(HttpSession& http, const TransferJob& job, FileSystem& files,
                         const std::u16string& archive_path, Trace& trace)
    : file_(files.OpenForRead(archive_path)),
      pending_(RequestHeaderBody(http, job)),
      encoder_(file_->Size()),
      trace_(trace) {
  archive_size_ = encoder_.archive_left();
  if (archive_size_ == 0) throw FileError("the archive is empty");
  // Counted before the first byte goes, for the Content-Length: a pass
  // over a file the packer has just written, which the system still holds
  // in memory, costs less than encoding it to disk and reading it back.
  const EncodedCount counted = CountFormEncoded(
      archive_size_, [&](std::uint8_t* out, std::size_t n) { return file_->Read(out, n); },
      [&](const std::uint8_t* piece, std::size_t n) {
        counted_crc_ = crc32_z(counted_crc_, piece, n);
      });
  if (counted.read != archive_size_) throw FileError("short read");
  if (counted.encoded > std::numeric_limits<std::uint64_t>::max() - pending_.size()) {
    throw FileError("the archive is too large to send");
  }
  size_ = pending_.size() + counted.encoded;
  file_->Seek(0);
}

bool ArchiveBody::Refill() {
  if (encoder_.archive_left() == 0) {
    // The whole archive is encoded and the body is not: its bytes changed
    // after they were counted.
    Fail("the packed archive changed while it was sent", "the body came out shorter than counted");
    return false;
  }
  const std::size_t got = encoder_.Next(
      [&](std::uint8_t* out, std::size_t n) { return file_->Read(out, n); }, pending_);
  if (got == 0) {
    Fail("the packed archive changed while it was sent", "it got shorter");
    return false;
  }
  sent_crc_ = crc32_z(sent_crc_, encoder_.piece(), got);
  pending_offset_ = 0;
  return true;
}

bool ArchiveBody::EndsAsCounted() {
  std::uint8_t more = 0;
  if (pending_.size() - pending_offset_ != size_ - delivered_ || encoder_.archive_left() != 0) {
    Fail("the packed archive changed while it was sent", "its bytes encode to another length");
    return false;
  }
  if (file_->Read(&more, 1) != 0) {
    Fail("the packed archive changed while it was sent", "it grew");
    return false;
  }
  if (sent_crc_ != counted_crc_) {
    Fail("the packed archive changed while it was sent", "its bytes differ from those counted");
    return false;
  }
  return true;
}

void ArchiveBody::Fail(std::string what, std::string detail) {
  failed_ = true;
  trace_.Fail(std::move(what), std::move(detail));
}

std::size_t ArchiveBody::Read(std::uint8_t* buffer, std::size_t capacity) noexcept {
  if (failed_ || delivered_ == size_) return 0;
  try {
    if (pending_offset_ == pending_.size() && !Refill()) return 0;
    const std::size_t n = std::min(capacity, pending_.size() - pending_offset_);
    // The last bytes go only when the body is exactly what was counted:
    // withheld, they fail the send before the server has a whole request.
    if (n >= size_ - delivered_ && !EndsAsCounted()) return 0;
    std::memcpy(buffer, pending_.data() + pending_offset_, n);
    pending_offset_ += n;
    delivered_ += n;
    return n;
  } catch (const std::bad_alloc&) {
    Fail("there was not enough memory to encode the archive", "while it was sent");
  } catch (const std::exception& error) {
    Fail("the packed archive could not be read", error.what());
  } catch (...) {
    Fail("the packed archive could not be read", "while it was sent");
  }
  return 0;
}

}  // namespace tolvex
