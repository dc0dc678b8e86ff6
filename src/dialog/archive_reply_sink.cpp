#include "dialog/archive_reply_sink.h"

#include <algorithm>
#include <chrono>
#include <utility>

namespace tolvex {
namespace {

constexpr std::uint8_t kDataStatus = '0';
constexpr std::size_t kWritePiece = 1 << 20;

double MsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
      .count();
}

}  // namespace

ArchiveReplySink::ArchiveReplySink(Bytes& ResponseBytes, OpenWorkFile open_work_file)
    : response_(ResponseBytes), open_work_file_(std::move(open_work_file)) {}

void ArchiveReplySink::Begin(std::optional<std::uint64_t>) {
  // The reset element of an empty reply, replaced by the first byte read.
  response_.assign(1, 0);
  received_ = 0;
}

bool ArchiveReplySink::Take(const std::uint8_t* data, std::size_t n) {
  if (n == 0) return true;
  const bool first = received_ == 0;
  received_ += n;
  if (first) response_.clear();
  const bool data_reply = response_.empty() ? data[0] == kDataStatus : response_[0] == kDataStatus;
  const std::size_t status_bytes = first ? 1 : 0;
  const std::size_t keep = data_reply ? 1 + kHeldPayloadHead : kHeldReplyLimit;
  if (response_.size() < keep) {
    const std::size_t kept = std::min(n, keep - response_.size());
    response_.insert(response_.end(), data, data + kept);
  }
  if (!data_reply || n == status_bytes) return true;
  TakePayload(data + status_bytes, n - status_bytes);
  return !decode_error_;
}

void ArchiveReplySink::TakePayload(const std::uint8_t* data, std::size_t n) {
  if (!opened_) {
    opened_ = true;
    try {
      file_ = open_work_file_();
    } catch (const FileError& error) {
      write_error_ = error.what();
    }
  }
  // Decoded behind what waits to be written and gathered into large
  // writes: a write per piece of the connection costs more than the
  // decoding, under Wine above all.
  if (pending_.capacity() < kWritePiece) pending_.reserve(kWritePiece);
  const std::size_t before = pending_.size();
  const auto decoding = std::chrono::steady_clock::now();
  try {
    decoder_.Decode(data, n, pending_);
  } catch (const DecodeError& error) {
    decode_error_ = error;
    // Nothing of a malformed payload is kept.
    file_.reset();
    pending_.clear();
    return;
  }
  decode_ms_ += MsSince(decoding);
  decoded_ += pending_.size() - before;
  if (!file_) {
    pending_.clear();
    return;
  }
  if (pending_.size() >= kWritePiece) WritePending();
}

void ArchiveReplySink::WritePending() {
  if (!file_ || pending_.empty()) return;
  const auto writing = std::chrono::steady_clock::now();
  try {
    file_->Write(pending_.data(), pending_.size());
  } catch (const FileError& error) {
    // The rest is still decoded, so a malformed payload is told as such
    // whatever the disk did.
    write_error_ = error.what();
    file_.reset();
  }
  pending_.clear();
  write_ms_ += MsSince(writing);
}

void ArchiveReplySink::Finish() {
  if (decode_error_) throw *decode_error_;
  decoder_.Finish();
  WritePending();
  if (write_error_) throw FileError(*write_error_);
  if (file_) {
    const auto closing = std::chrono::steady_clock::now();
    auto file = std::move(file_);
    // The whole archive may be all that is left of the server's data, kept
    // beside the caller's file after a failure.
    file->Sync();
    file->Close();
    write_ms_ += MsSince(closing);
  }
}

}  // namespace tolvex
