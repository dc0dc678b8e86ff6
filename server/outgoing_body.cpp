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
EncodedArchiveFile::EncodedArchiveFile(int fd) : fd_(fd) {
  struct stat info {};
  if (fstat(fd_, &info) != 0) {
    close(fd_);
    throw std::runtime_error(std::string("cannot read the archive: ") + std::strerror(errno));
  }
  archive_size_ = static_cast<std::uint64_t>(info.st_size);
  // The destructor does not run for a constructor that throws.
  try {
    encoded_size_ = CountFormEncoded(archive_size_, Reader(0)).encoded;
  } catch (...) {
    close(fd_);
    throw;
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

ArchiveReader EncodedArchiveFile::Reader(std::uint64_t offset) const {
  return [this, offset](std::uint8_t* out, std::size_t n) mutable {
    ReadAt(offset, out, n);
    offset += n;
    return n;
  };
}

OutgoingBody::OutgoingBody(std::shared_ptr<const std::string> head,
                           std::shared_ptr<const EncodedArchiveFile> archive)
    : head_(std::move(head)),
      archive_(std::move(archive)),
      encoder_(archive_ ? archive_->archive_size() : 0) {
  pending_at_ = head_->size();
  if (archive_) read_ = archive_->Reader(0);
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
    if (encoder_.archive_left() == 0) return 0;
    pending_at_ += pending_.size();
    encoder_.Next(read_, pending_);
  }
  if (offset < pending_at_) throw std::logic_error("the reply is read backwards");
  const auto from = static_cast<std::size_t>(offset - pending_at_);
  const std::size_t n = std::min(capacity, pending_.size() - from);
  std::memcpy(out, pending_.data() + from, n);
  return n;
}

}  // namespace tolvex::server
