// Form-urlencoded byte codec for archive bodies. Encoding keeps digits and
// ASCII letters, turns a space into '+' and escapes every other byte as
// %XY with capital hex digits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <vector>

#include "component/bytes.h"

namespace tolvex {

enum class DecodeErrorKind {
  IndexOutOfRange,  // '%' with fewer than two bytes after it
  Overflow,         // an escape digit that is not a hex digit
};

struct DecodeError : std::runtime_error {
  explicit DecodeError(DecodeErrorKind k)
      : std::runtime_error(k == DecodeErrorKind::IndexOutOfRange ? "escape cut short"
                                                                 : "bad escape digit"),
        kind(k) {}
  DecodeErrorKind kind;
};

// Replaces `encoded`. Never fails.
void EncodeFormBytes(const Bytes& source, Bytes& encoded);
// Appends the encoded form of n bytes at `source` (not inside `encoded`).
// A caller that reserves room for 3n + 1 more bytes is never reallocated.
void AppendFormEncoded(const std::uint8_t* source, std::size_t n, Bytes& encoded);

// Replaces `decoded`. On a malformed escape throws DecodeError; `decoded`
// then holds the bytes decoded before that escape. Hex digits are accepted
// in either case: servers that write lower-case escapes must not hand us a
// silently corrupted archive.
void DecodeFormBytes(const Bytes& source, Bytes& decoded);
// The same for the n bytes at `source` (not inside `decoded`).
void DecodeFormBytes(const std::uint8_t* source, std::size_t n, Bytes& decoded);
// Appends instead: on a malformed escape `decoded` holds what it held and
// the bytes decoded before that escape.
void AppendFormDecoded(const std::uint8_t* source, std::size_t n, Bytes& decoded);
// The value the decoder gives an escape digit (0-9, A-F, a-f); -1 for a
// byte that is none.
int FormEscapeDigitValue(std::uint8_t byte);
// The length of the encoded form of n bytes, counted without making it.
std::uint64_t FormEncodedSize(const std::uint8_t* source, std::size_t n);

}  // namespace tolvex
