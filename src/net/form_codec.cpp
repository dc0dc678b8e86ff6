#include "net/form_codec.h"

#include <array>
#include <cstring>

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

}  // namespace

void EncodeFormBytes(const Bytes& source, Bytes& encoded) {
  // Three bytes per source byte at most, plus one of slack for the
  // unconditional four-byte store of the last entry.
  Bytes out(source.size() * 3 + 1);
  std::uint8_t* dst = out.data();
  for (const std::uint8_t b : source) {
    const EncodeEntry& entry = kEncodeTable[b];
    std::memcpy(dst, &entry, sizeof entry);
    dst += entry.length;
  }
  out.resize(static_cast<std::size_t>(dst - out.data()));
  encoded = std::move(out);
}

void DecodeFormBytes(const Bytes& source, Bytes& decoded) {
  Bytes out(source.size());
  const std::uint8_t* src = source.data();
  const std::uint8_t* const end = src + source.size();
  std::uint8_t* dst = out.data();
  auto fail = [&](DecodeErrorKind kind) {
    out.resize(static_cast<std::size_t>(dst - out.data()));
    decoded = std::move(out);
    throw DecodeError(kind);
  };
  while (src < end) {
    const std::uint8_t b = *src;
    if (b == '%') {
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
    } else {
      *dst++ = b == '+' ? ' ' : b;
      ++src;
    }
  }
  out.resize(static_cast<std::size_t>(dst - out.data()));
  decoded = std::move(out);
}

}  // namespace tolvex
