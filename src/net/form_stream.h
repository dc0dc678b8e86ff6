// The form codec for a stream handed over in pieces of any size, as a
// reply arrives and a request body goes out: neither side is ever held
// whole. Each piece gives its share of what the whole-buffer routines give
// for the whole stream, byte for byte and failure for failure.
#pragma once

#include <cstddef>
#include <cstdint>

#include "net/form_codec.h"

namespace tolvex {

// Decodes a stream piece by piece. An escape cut between two pieces waits,
// at most two bytes of it, for the next one. A malformed escape throws the
// DecodeError that DecodeFormBytes throws for the whole stream, at the same
// escape: what all calls before it handed out, followed by what the failing
// call leaves in `decoded`, is what DecodeFormBytes leaves. A decoder that
// has thrown is not used again.
class FormDecoder {
 public:
  // Replaces `decoded` with the bytes that this piece completes.
  void Decode(const std::uint8_t* piece, std::size_t n, Bytes& decoded);
  // The end of the stream: throws IndexOutOfRange when it cuts an escape.
  void Finish() const;
  // Bytes of a cut escape waiting for the next piece.
  std::size_t Waiting() const { return carried_; }

 private:
  // Takes bytes of `piece` into the waiting escape until it is whole, then
  // appends its byte to `decoded`; returns the bytes taken. Throws at a
  // malformed digit.
  std::size_t CompleteWaiting(const std::uint8_t* piece, std::size_t n, Bytes& decoded);

  std::uint8_t carry_[3] = {};
  std::size_t carried_ = 0;
};

}  // namespace tolvex
