#include "net/form_codec.h"

#include <algorithm>
#include <array>
#include <cstdint>
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
  if (&source == &encoded) {
    const Bytes copy = source;
    EncodeFormBytes(copy, encoded);
    return;
  }
  // Three bytes per source byte at most, plus one of slack for the
  // unconditional four-byte store of the last entry.
  // The result reuses the caller's buffer when it is large enough already.
  Bytes& out = encoded;
  out.resize(source.size() * 3 + 1);
  std::uint8_t* dst = out.data();
  for (const std::uint8_t b : source) {
    const EncodeEntry& entry = kEncodeTable[b];
    std::memcpy(dst, &entry, sizeof entry);
    dst += entry.length;
  }
  out.resize(static_cast<std::size_t>(dst - out.data()));
}

namespace {

// The exact walk: one byte or one escape at a time, failing at the first
// malformed escape with the bytes before it kept.
void DecodeExactly(const std::uint8_t* src, const std::uint8_t* end, Bytes& out,
                   std::size_t written) {
  std::uint8_t* dst = out.data() + written;
  auto fail = [&](DecodeErrorKind kind) {
    out.resize(static_cast<std::size_t>(dst - out.data()));
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
}

constexpr std::array<std::uint8_t, 256> MakePlainTable() {
  std::array<std::uint8_t, 256> table{};
  for (unsigned b = 0; b < 256; ++b) table[b] = static_cast<std::uint8_t>(b == '+' ? ' ' : b);
  return table;
}

constexpr auto kPlainTable = MakePlainTable();

// Value of two hex digits read as one 16-bit load, or -1.
std::array<std::int16_t, 65536> MakePairTable() {
  std::array<std::int16_t, 65536> table{};
  for (unsigned a = 0; a < 256; ++a) {
    for (unsigned b = 0; b < 256; ++b) {
      const std::uint8_t bytes[2] = {static_cast<std::uint8_t>(a), static_cast<std::uint8_t>(b)};
      std::uint16_t key;
      std::memcpy(&key, bytes, 2);
      const int high = kHexTable[a], low = kHexTable[b];
      table[key] = static_cast<std::int16_t>(high < 0 || low < 0 ? -1 : high * 16 + low);
    }
  }
  return table;
}

const std::array<std::int16_t, 65536>& PairTable() {
  static const auto table = MakePairTable();
  return table;
}

// One independent stretch of the source. Several are decoded in step so
// the processor can overlap their dependency chains.
struct Lane {
  const std::uint8_t* src;
  const std::uint8_t* end;
  std::uint8_t* dst;
  std::uint8_t* out_start;
};

// Where a stretch may start: a position no escape reaches into.
std::size_t TokenBoundaryAtOrBefore(const std::uint8_t* src, std::size_t p) {
  while (p > 0 && (src[p - 1] == '%' || (p > 1 && src[p - 2] == '%'))) --p;
  return p;
}

// The exact walk without throwing: false at a malformed escape.
bool DecodeTail(Lane& lane) {
  while (lane.src < lane.end) {
    const std::uint8_t b = *lane.src;
    if (b == '%') {
      if (lane.end - lane.src < 3) return false;
      const int high = kHexTable[lane.src[1]], low = kHexTable[lane.src[2]];
      if (high < 0 || low < 0) return false;
      *lane.dst++ = static_cast<std::uint8_t>(high * 16 + low);
      lane.src += 3;
    } else {
      *lane.dst++ = b == '+' ? ' ' : b;
      ++lane.src;
    }
  }
  return true;
}

}  // namespace

void DecodeFormBytes(const Bytes& source, Bytes& decoded) {
  if (&source == &decoded) {
    const Bytes copy = source;
    DecodeFormBytes(copy, decoded);
    return;
  }
  const std::size_t n = source.size();
  decoded.resize(n);
  const std::uint8_t* const src = source.data();
  std::uint8_t* const out = decoded.data();
  constexpr std::size_t kLanes = 4;
  if (n < 4096) {
    DecodeExactly(src, src + n, decoded, 0);
    return;
  }

  // Each lane writes its output at its own source offset: a lane never
  // produces more bytes than it reads, so the lanes cannot overlap, and
  // they are moved together at the end.
  Lane lanes[kLanes];
  std::size_t starts[kLanes + 1];
  starts[0] = 0;
  starts[kLanes] = n;
  for (std::size_t k = 1; k < kLanes; ++k) {
    starts[k] = TokenBoundaryAtOrBefore(src, n / kLanes * k);
  }
  for (std::size_t k = 0; k < kLanes; ++k) {
    lanes[k] = {src + starts[k], src + starts[k + 1], out + starts[k], out + starts[k]};
  }

  const auto& pairs = PairTable();
  unsigned bad = 0;
  // A malformed escape only sets `bad`; the exact walk then redoes the
  // whole input to fail at the right place with the right bytes kept.
  for (;;) {
    // Each step reads at most three bytes of a lane, so this many steps
    // stay inside every lane, digits of a last escape included.
    std::size_t steps = SIZE_MAX;
    for (const Lane& lane : lanes) {
      steps = std::min(steps, static_cast<std::size_t>(lane.end - lane.src) / 3);
    }
    if (steps < 16) break;
    for (std::size_t step = 0; step < steps; ++step) {
      for (Lane& lane : lanes) {
        const std::uint8_t b = lane.src[0];
        const unsigned percent = b == '%';
        std::uint16_t digits;
        std::memcpy(&digits, lane.src + 1, 2);
        const int value = pairs[digits];
        bad |= percent & static_cast<unsigned>(value < 0);
        *lane.dst++ = static_cast<std::uint8_t>(percent ? value : kPlainTable[b]);
        lane.src += 1 + 2 * percent;
      }
    }
  }
  bool ok = bad == 0;
  for (Lane& lane : lanes) ok = ok && DecodeTail(lane);
  if (!ok) {
    DecodeExactly(src, src + n, decoded, 0);
    return;
  }
  std::uint8_t* joined = out;
  for (const Lane& lane : lanes) {
    const auto size = static_cast<std::size_t>(lane.dst - lane.out_start);
    if (joined != lane.out_start) std::memmove(joined, lane.out_start, size);
    joined += size;
  }
  decoded.resize(static_cast<std::size_t>(joined - out));
}

}  // namespace tolvex
