// The form codec for a stream handed over in pieces of any size, as a
// reply arrives and a request body goes out: neither side is ever held
// whole. Each piece gives its share of what the whole-buffer routines give
// for the whole stream, byte for byte and failure for failure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "net/form_codec.h"

namespace tolvex {

// Decodes a stream piece by piece. An escape cut between two pieces waits,
// at most two bytes of it, for the next one. A malformed escape throws the
// DecodeError that DecodeFormBytes throws for the whole stream, at the same
// escape: what all calls appended, the failing one included, is what
// DecodeFormBytes leaves. A decoder that has thrown is not used again.
class FormDecoder {
 public:
  // Appends to `decoded` the bytes that this piece completes.
  void Decode(const std::uint8_t* piece, std::size_t n, Bytes& decoded);
  // The end of the stream: throws IndexOutOfRange when it cuts an escape.
  void Finish() const;

 private:
  // Takes bytes of `piece` into the waiting escape until it is whole, then
  // appends its byte to `decoded`; returns the bytes taken. Throws at a
  // malformed digit.
  std::size_t CompleteWaiting(const std::uint8_t* piece, std::size_t n, Bytes& decoded);

  std::uint8_t carry_[3] = {};
  std::size_t carried_ = 0;
};

// An archive's bytes in order, as the encoder below reads them: up to `n`
// bytes after those given before into `out`, 0 at the end. May throw.
using ArchiveReader = std::function<std::size_t(std::uint8_t* out, std::size_t n)>;

// What a counting pass found: the archive bytes it read (fewer than asked
// when the reader ended early) and the length of their encoded form.
struct EncodedCount {
  std::uint64_t read = 0;
  std::uint64_t encoded = 0;
};

// Reads the first `archive_size` bytes through `read` a piece at a time and
// counts their encoded length without making it, for a Content-Length
// given before the first byte goes. `each` sees every piece as read.
EncodedCount CountFormEncoded(
    std::uint64_t archive_size, const ArchiveReader& read,
    const std::function<void(const std::uint8_t* piece, std::size_t n)>& each = {});

// Encodes an archive of a known size a piece at a time as a connection
// takes it, the client's request body and the sample server's reply alike:
// a large archive is neither held whole nor encoded to disk first.
class FormEncoder {
 public:
  explicit FormEncoder(std::uint64_t archive_size);

  // Reads the next piece through `read` and replaces `encoded` with its
  // encoded form; returns the archive bytes it read: 0 when the reader had
  // none or no byte of the archive is left.
  std::size_t Next(const ArchiveReader& read, Bytes& encoded);
  // The archive bytes Next read last.
  const std::uint8_t* piece() const { return raw_.data(); }
  // The archive bytes not read yet.
  std::uint64_t archive_left() const { return left_; }

 private:
  std::uint64_t left_;
  Bytes raw_;
};

}  // namespace tolvex
