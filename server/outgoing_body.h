// A reply body the server sends: a small text held whole, optionally
// followed by the form-encoded content of an archive file that is encoded
// a piece at a time as it is sent, so a large delivery is never held.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "net/form_codec.h"
#include "net/form_stream.h"

namespace tolvex::server {

// An archive in an open file, with its encoded length counted once.
class EncodedArchiveFile {
 public:
  // Takes the descriptor; throws std::runtime_error when it cannot be read.
  explicit EncodedArchiveFile(int fd);
  ~EncodedArchiveFile();
  EncodedArchiveFile(const EncodedArchiveFile&) = delete;
  EncodedArchiveFile& operator=(const EncodedArchiveFile&) = delete;

  std::uint64_t archive_size() const { return archive_size_; }
  std::uint64_t encoded_size() const { return encoded_size_; }
  // Reads n archive bytes at `offset`; throws when the file ends early.
  void ReadAt(std::uint64_t offset, std::uint8_t* out, std::size_t n) const;
  // Reads the archive in order from `offset`, each reader at its own
  // position on the one shared descriptor.
  ArchiveReader Reader(std::uint64_t offset) const;

 private:
  int fd_;
  std::uint64_t archive_size_ = 0;
  std::uint64_t encoded_size_ = 0;
};

class OutgoingBody {
 public:
  explicit OutgoingBody(std::shared_ptr<const std::string> head,
                        std::shared_ptr<const EncodedArchiveFile> archive = {});

  std::uint64_t size() const;
  // The body's bytes from `offset` on, at most `capacity` of them, into
  // `out`; returns their count. Reading goes forward from where the last
  // read ended (offsets come in order, as a connection sends them).
  std::size_t Read(std::uint64_t offset, char* out, std::size_t capacity);

 private:
  std::shared_ptr<const std::string> head_;
  std::shared_ptr<const EncodedArchiveFile> archive_;
  FormEncoder encoder_;
  ArchiveReader read_;
  // Encoded archive bytes from `pending_at_` on.
  Bytes pending_;
  std::uint64_t pending_at_ = 0;
};

}  // namespace tolvex::server
