#include "net/form_codec.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "net/form_decode_blocks.h"

namespace tolvex {
namespace {

// One entry per source byte: up to three output bytes and their count, so
// the encoder writes four bytes unconditionally and advances by the count.
struct EncodeEntry {
  std::uint8_t bytes[3];
  std::uint8_t length;
};

constexpr std::uint8_t HexDigit(unsigned v) {
  return static_cast<std::uint8_t>(v < 10 ? '0' + v : 'A' + (v - 10));
}

constexpr std::array<EncodeEntry, 256> MakeEncodeTable() {
  std::array<EncodeEntry, 256> table{};
  for (unsigned b = 0; b < 256; ++b) {
    const bool plain = (b >= '0' && b <= '9') || (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z');
    if (plain) {
      table[b] = {{static_cast<std::uint8_t>(b), 0, 0}, 1};
    } else if (b == ' ') {
      table[b] = {{'+', 0, 0}, 1};
    } else {
      table[b] = {{'%', HexDigit(b >> 4), HexDigit(b & 15)}, 3};
    }
  }
  return table;
}

constexpr auto kEncodeTable = MakeEncodeTable();

// Value of a hex digit, or -1.
constexpr std::array<std::int8_t, 256> MakeHexTable() {
  std::array<std::int8_t, 256> table{};
  for (unsigned b = 0; b < 256; ++b) {
    table[b] = -1;
    if (b >= '0' && b <= '9') table[b] = static_cast<std::int8_t>(b - '0');
    if (b >= 'A' && b <= 'F') table[b] = static_cast<std::int8_t>(b - 'A' + 10);
    if (b >= 'a' && b <= 'f') table[b] = static_cast<std::int8_t>(b - 'a' + 10);
  }
  return table;
}

constexpr auto kHexTable = MakeHexTable();

// Both directions work through the input a chunk at a time and grow the
// output only as far as the chunk can reach: a fresh buffer is then
// zero-filled only where the next stores land, while that is in cache, and
// a reused one that is long enough already is not filled at all.
constexpr std::size_t kChunk = 16 * 1024;

// Appends to `decoded`, which is separate from the n bytes at `source`.
// Blocks go through the fast lane; the rest, and a block it refuses, take
// the exact walk: one byte or one escape at a time, failing at the first
// malformed escape with the bytes before it kept.
void DecodeRange(const std::uint8_t* source, std::size_t n, Bytes& decoded) {
  const std::size_t base = decoded.size();
  if (decoded.capacity() < base + n) decoded.reserve(base + n);
  const std::uint8_t* src = source;
  const std::uint8_t* const end = source + n;
  std::size_t written = base;
  std::uint8_t* dst = nullptr;
  auto fail = [&](DecodeErrorKind kind) {
    decoded.resize(static_cast<std::size_t>(dst - decoded.data()));
    throw DecodeError(kind);
  };
  while (src < end) {
    // No token decodes to more bytes than it takes, so the output of the
    // tokens that start in this chunk fits in the chunk's length.
    const auto input = std::min(kChunk, static_cast<std::size_t>(end - src));
    if (decoded.size() < written + input) decoded.resize(written + input);
    dst = decoded.data() + written;
    const std::uint8_t* const stop = src + input;
    form_blocks::DecodeBlocks(src, stop, end, dst);
    while (src < stop) {
      const std::uint8_t b = *src;
      if (b != '%') {
        *dst++ = b == '+' ? ' ' : b;
        ++src;
        continue;
      }
      // Checked in this order: first digit present, first digit valid,
      // second present, second valid.
      if (end - src < 2) fail(DecodeErrorKind::IndexOutOfRange);
      const int high = kHexTable[src[1]];
      if (high < 0) fail(DecodeErrorKind::Overflow);
      if (end - src < 3) fail(DecodeErrorKind::IndexOutOfRange);
      const int low = kHexTable[src[2]];
      if (low < 0) fail(DecodeErrorKind::Overflow);
      *dst++ = static_cast<std::uint8_t>(high * 16 + low);
      src += 3;
    }
    written = static_cast<std::size_t>(dst - decoded.data());
  }
  decoded.resize(written);
}

}  // namespace

void EncodeFormBytes(const Bytes& source, Bytes& encoded) {
  if (&source == &encoded) {
    const Bytes copy = source;
    EncodeFormBytes(copy, encoded);
    return;
  }
  encoded.clear();
  AppendFormEncoded(source.data(), source.size(), encoded);
}

void AppendFormEncoded(const std::uint8_t* source, std::size_t n, Bytes& encoded) {
  // Three bytes per source byte at most, plus one of slack for the
  // unconditional four-byte store of the last entry.
  const std::size_t base = encoded.size();
  if (n > (encoded.max_size() - base - 1) / 3) throw std::length_error("encoded form too long");
  const std::size_t bound = base + n * 3 + 1;
  if (encoded.capacity() < bound) {
    // Appends in a row grow geometrically; a caller that knows the total
    // reserves it and is never copied.
    encoded.reserve(base == 0 ? bound : std::max(bound, encoded.capacity() * 2));
  }
  const std::uint8_t* src = source;
  const std::uint8_t* const end = src + n;
  std::size_t written = base;
  while (src < end) {
    const std::uint8_t* const stop = src + std::min(kChunk, static_cast<std::size_t>(end - src));
    const std::size_t need = written + static_cast<std::size_t>(stop - src) * 3 + 1;
    if (encoded.size() < need) encoded.resize(need);
    std::uint8_t* dst = encoded.data() + written;
    for (; src < stop; ++src) {
      const EncodeEntry& entry = kEncodeTable[*src];
      std::memcpy(dst, &entry, sizeof entry);
      dst += entry.length;
    }
    written = static_cast<std::size_t>(dst - encoded.data());
  }
  encoded.resize(written);
}

std::uint64_t FormEncodedSize(const std::uint8_t* source, std::size_t n) {
  std::uint64_t size = 0;
  for (std::size_t i = 0; i < n; ++i) size += kEncodeTable[source[i]].length;
  return size;
}

void DecodeFormBytes(const Bytes& source, Bytes& decoded) {
  if (&source == &decoded) {
    const Bytes copy = source;
    DecodeFormBytes(copy, decoded);
    return;
  }
  decoded.clear();
  DecodeRange(source.data(), source.size(), decoded);
}

void DecodeFormBytes(const std::uint8_t* source, std::size_t n, Bytes& decoded) {
  decoded.clear();
  DecodeRange(source, n, decoded);
}

void AppendFormDecoded(const std::uint8_t* source, std::size_t n, Bytes& decoded) {
  DecodeRange(source, n, decoded);
}

int FormEscapeDigitValue(std::uint8_t byte) { return kHexTable[byte]; }

}  // namespace tolvex
