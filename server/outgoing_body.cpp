#include "outgoing_body.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <utility>

#include "archive_fd.h"

namespace tolvex::server {
namespace {

constexpr std::size_t kPiece = 256 * 1024;

}  // namespace

EncodedArchiveFile::EncodedArchiveFile(int fd) : fd_(fd) {
  struct stat info {};
  if (fstat(fd_, &info) != 0) {
    close(fd_);
    throw std::runtime_error(std::string("cannot read the archive: ") + std::strerror(errno));
  }
  archive_size_ = static_cast<std::uint64_t>(info.st_size);
  Bytes piece(kPiece);
  for (std::uint64_t at = 0; at < archive_size_;) {
    const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(kPiece, archive_size_ - at));
    ReadAt(at, piece.data(), n);
    encoded_size_ += FormEncodedSize(piece.data(), n);
    at += n;
  }
}

EncodedArchiveFile::~EncodedArchiveFile() { close(fd_); }

void EncodedArchiveFile::ReadAt(std::uint64_t offset, std::uint8_t* out, std::size_t n) const {
  while (n > 0) {
    const long long got = ReadArchiveAt(fd_, out, n, offset);
    if (got <= 0) throw std::runtime_error("the archive file ended early");
    out += got;
    offset += static_cast<std::uint64_t>(got);
    n -= static_cast<std::size_t>(got);
  }
}

OutgoingBody::OutgoingBody(std::shared_ptr<const std::string> head,
                           std::shared_ptr<const EncodedArchiveFile> archive)
    : head_(std::move(head)), archive_(std::move(archive)) {
  pending_at_ = head_->size();
}

std::uint64_t OutgoingBody::size() const {
  return head_->size() + (archive_ ? archive_->encoded_size() : 0);
}

std::size_t OutgoingBody::Read(std::uint64_t offset, char* out, std::size_t capacity) {
  if (offset < head_->size()) {
    const auto n =
        static_cast<std::size_t>(std::min<std::uint64_t>(capacity, head_->size() - offset));
    std::memcpy(out, head_->data() + offset, n);
    return n;
  }
  if (!archive_) return 0;
  while (offset >= pending_at_ + pending_.size()) {
    if (archive_at_ >= archive_->archive_size()) return 0;
    pending_at_ += pending_.size();
    const auto n = static_cast<std::size_t>(
        std::min<std::uint64_t>(kPiece, archive_->archive_size() - archive_at_));
    raw_.resize(n);
    archive_->ReadAt(archive_at_, raw_.data(), n);
    archive_at_ += n;
    pending_.clear();
    AppendFormEncoded(raw_.data(), n, pending_);
  }
  if (offset < pending_at_) throw std::logic_error("the reply is read backwards");
  const auto from = static_cast<std::size_t>(offset - pending_at_);
  const std::size_t n = std::min(capacity, pending_.size() - from);
  std::memcpy(out, pending_.data() + from, n);
  return n;
}

}  // namespace tolvex::server
