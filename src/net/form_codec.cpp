#include "net/form_codec.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#define TOLVEX_CODEC_X86 1
#include <immintrin.h>
#define TOLVEX_TARGET_SSSE3 __attribute__((target("ssse3")))
#define TOLVEX_TARGET_AVX2 __attribute__((target("avx2,popcnt")))
#else
#define TOLVEX_CODEC_X86 0
#endif

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

// One table entry per byte up to `stop`, advancing `src` and `dst`. Needs
// one byte of slack after the output for the four-byte store of each entry.
void EncodeBytes(const std::uint8_t*& src, const std::uint8_t* stop, std::uint8_t*& dst) {
  for (; src < stop; ++src) {
    const EncodeEntry& entry = kEncodeTable[*src];
    std::memcpy(dst, &entry, sizeof entry);
    dst += entry.length;
  }
}

#if TOLVEX_CODEC_X86

// Each source byte is widened to a four-byte slot "c H L 0" (c its plain
// form or '%'); a vector of four slots is then packed by a shuffle chosen by
// which of the four are escapes.
struct SlotPackTable {
  std::uint8_t shuffle[16][16];
  std::uint8_t count[16];
};

constexpr SlotPackTable MakeSlotPackTable() {
  SlotPackTable table{};
  for (unsigned escapes = 0; escapes < 16; ++escapes) {
    unsigned n = 0;
    for (unsigned slot = 0; slot < 4; ++slot) {
      table.shuffle[escapes][n++] = static_cast<std::uint8_t>(slot * 4);
      if (escapes >> slot & 1) {
        table.shuffle[escapes][n++] = static_cast<std::uint8_t>(slot * 4 + 1);
        table.shuffle[escapes][n++] = static_cast<std::uint8_t>(slot * 4 + 2);
      }
    }
    table.count[escapes] = static_cast<std::uint8_t>(n);
    while (n < 16) table.shuffle[escapes][n++] = 0x80;
  }
  return table;
}

constexpr SlotPackTable kSlotPackTable = MakeSlotPackTable();

TOLVEX_TARGET_SSSE3 inline std::uint8_t* StoreSlots(std::uint8_t* dst, __m128i slots,
                                                    unsigned escapes) {
  const __m128i shuffle =
      _mm_loadu_si128(reinterpret_cast<const __m128i*>(kSlotPackTable.shuffle[escapes]));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), _mm_shuffle_epi8(slots, shuffle));
  return dst + kSlotPackTable.count[escapes];
}

// Sixteen source bytes per step while at least 64 output bytes are free.
TOLVEX_TARGET_SSSE3 void EncodeBlocksSsse3(const std::uint8_t*& src_ref, const std::uint8_t* stop,
                                           std::uint8_t*& dst_ref, const std::uint8_t* dst_end) {
  // Plain bytes by nibble classes: 1 = digit, 2 = "A".."O" and "a".."o",
  // 4 = "P".."Z" and "p".."z", 8 = space.
  const __m128i by_low = _mm_setr_epi8(13, 7, 7, 7, 7, 7, 7, 7, 7, 7, 6, 2, 2, 2, 2, 2);
  const __m128i by_high = _mm_setr_epi8(0, 0, 8, 1, 2, 4, 2, 4, 0, 0, 0, 0, 0, 0, 0, 0);
  const __m128i hex_digits =
      _mm_setr_epi8('0', '1', '2', '3', '4', '5', '6', '7', '8', '9', 'A', 'B', 'C', 'D', 'E', 'F');
  const __m128i nibble = _mm_set1_epi8(0x0F);
  const __m128i space = _mm_set1_epi8(' ');
  const __m128i space_to_plus = _mm_set1_epi8(' ' ^ '+');
  const __m128i percent = _mm_set1_epi8('%');
  const __m128i zero = _mm_setzero_si128();
  const std::uint8_t* src = src_ref;
  std::uint8_t* dst = dst_ref;
  while (stop - src >= 16 && dst_end - dst >= 64) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src));
    const __m128i low = _mm_and_si128(bytes, nibble);
    const __m128i high = _mm_and_si128(_mm_srli_epi16(bytes, 4), nibble);
    const __m128i escaped = _mm_cmpeq_epi8(
        _mm_and_si128(_mm_shuffle_epi8(by_low, low), _mm_shuffle_epi8(by_high, high)), zero);
    const __m128i plain =
        _mm_xor_si128(bytes, _mm_and_si128(_mm_cmpeq_epi8(bytes, space), space_to_plus));
    const __m128i first =
        _mm_or_si128(_mm_and_si128(escaped, percent), _mm_andnot_si128(escaped, plain));
    const __m128i high_digit = _mm_shuffle_epi8(hex_digits, high);
    const __m128i low_digit = _mm_shuffle_epi8(hex_digits, low);
    const __m128i pairs_lo = _mm_unpacklo_epi8(first, high_digit);
    const __m128i pairs_hi = _mm_unpackhi_epi8(first, high_digit);
    const __m128i lows_lo = _mm_unpacklo_epi8(low_digit, zero);
    const __m128i lows_hi = _mm_unpackhi_epi8(low_digit, zero);
    const auto mask = static_cast<unsigned>(_mm_movemask_epi8(escaped));
    dst = StoreSlots(dst, _mm_unpacklo_epi16(pairs_lo, lows_lo), mask & 15);
    dst = StoreSlots(dst, _mm_unpackhi_epi16(pairs_lo, lows_lo), mask >> 4 & 15);
    dst = StoreSlots(dst, _mm_unpacklo_epi16(pairs_hi, lows_hi), mask >> 8 & 15);
    dst = StoreSlots(dst, _mm_unpackhi_epi16(pairs_hi, lows_hi), mask >> 12);
    src += 16;
  }
  src_ref = src;
  dst_ref = dst;
}

bool HasSsse3() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("ssse3");
}

#endif  // TOLVEX_CODEC_X86

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
  // unconditional four-byte store of the last entry. The buffer grows a
  // chunk ahead of the output, so a fresh one is zero-filled only where the
  // next stores land while it is in cache, and a reused one long enough
  // already is not filled at all.
  constexpr std::size_t kChunk = 16 * 1024;
  constexpr std::size_t kBlockSlack = 64;
  const std::size_t base = encoded.size();
  if (n > (encoded.max_size() - base - 1) / 3) throw std::length_error("encoded form too long");
  const std::size_t bound = base + n * 3 + 1;
  if (encoded.capacity() < bound) {
    // Appends in a row grow geometrically; a caller that knows the total
    // reserves it and is never copied.
    encoded.reserve(base == 0 ? bound : std::max(bound, encoded.capacity() * 2));
  }
#if TOLVEX_CODEC_X86
  static const bool blocks = HasSsse3();
#endif
  const std::uint8_t* src = source;
  const std::uint8_t* const end = src + n;
  std::size_t written = base;
  while (src < end) {
    const std::size_t input = std::min(kChunk, static_cast<std::size_t>(end - src));
    const std::size_t need = std::min(bound, written + input * 3 + kBlockSlack);
    if (encoded.size() < need) encoded.resize(need);
    std::uint8_t* dst = encoded.data() + written;
    const std::uint8_t* const stop = src + input;
#if TOLVEX_CODEC_X86
    if (blocks) EncodeBlocksSsse3(src, stop, dst, encoded.data() + encoded.size());
#endif
    EncodeBytes(src, stop, dst);
    written = static_cast<std::size_t>(dst - encoded.data());
  }
  encoded.resize(written);
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

// Where the decoders below stopped: `src` is at an escape boundary and
// `dst` holds exactly the bytes that the input before `src` decodes to.
struct DecodeCursor {
  const std::uint8_t* src;
  const std::uint8_t* end;
  const std::uint8_t* stop;  // the block decoders start no block at or past it
  std::uint8_t* dst;
  std::uint8_t* dst_end;
};

// The exact walk without throwing, bounded by the output as well: false at a
// malformed escape or when the output is full.
bool DecodeRest(DecodeCursor& c) {
  while (c.src < c.end) {
    if (c.dst == c.dst_end) return false;
    const std::uint8_t b = *c.src;
    if (b == '%') {
      if (c.end - c.src < 3) return false;
      const int high = kHexTable[c.src[1]], low = kHexTable[c.src[2]];
      if (high < 0 || low < 0) return false;
      *c.dst++ = static_cast<std::uint8_t>(high * 16 + low);
      c.src += 3;
    } else {
      *c.dst++ = kPlainTable[b];
      ++c.src;
    }
  }
  return true;
}

#if TOLVEX_CODEC_X86

// For each 8-bit keep mask: the positions of its set bits, in order, as a
// byte shuffle that packs the kept bytes of an 8-byte group to its front.
struct PackTable {
  std::uint8_t shuffle[256][8];
  std::uint8_t count[256];
};

constexpr PackTable MakePackTable() {
  PackTable table{};
  for (unsigned keep = 0; keep < 256; ++keep) {
    unsigned n = 0;
    for (unsigned bit = 0; bit < 8; ++bit) {
      if (keep >> bit & 1) table.shuffle[keep][n++] = static_cast<std::uint8_t>(bit);
    }
    table.count[keep] = static_cast<std::uint8_t>(n);
  }
  return table;
}

constexpr PackTable kPackTable = MakePackTable();

// Bytes that are not hex digits, as 0xFF. The class of a byte is looked up
// by each of its nibbles; a byte is a digit when both lookups share a bit.
TOLVEX_TARGET_SSSE3 inline __m128i NotHex16(__m128i v) {
  const __m128i by_low = _mm_setr_epi8(1, 3, 3, 3, 3, 3, 3, 1, 1, 1, 0, 0, 0, 0, 0, 0);
  const __m128i by_high = _mm_setr_epi8(0, 0, 0, 1, 2, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0);
  const __m128i nibble = _mm_set1_epi8(0x0F);
  const __m128i low = _mm_shuffle_epi8(by_low, _mm_and_si128(v, nibble));
  const __m128i high = _mm_shuffle_epi8(by_high, _mm_and_si128(_mm_srli_epi16(v, 4), nibble));
  return _mm_cmpeq_epi8(_mm_and_si128(low, high), _mm_setzero_si128());
}

// For each position the byte of the escape starting there (meaningful only
// where the two following bytes are hex digits), else the plain byte.
TOLVEX_TARGET_SSSE3 inline __m128i DecodedBytes16(__m128i here, __m128i next1, __m128i next2,
                                                  __m128i percent) {
  const __m128i nine = _mm_set1_epi8('9');
  const __m128i high = _mm_add_epi8(
      _mm_and_si128(_mm_slli_epi16(next1, 4), _mm_set1_epi8(static_cast<char>(0xF0))),
      _mm_and_si128(_mm_cmpgt_epi8(next1, nine), _mm_set1_epi8(static_cast<char>(0x90))));
  const __m128i low = _mm_add_epi8(_mm_and_si128(next2, _mm_set1_epi8(0x0F)),
                                   _mm_and_si128(_mm_cmpgt_epi8(next2, nine), _mm_set1_epi8(9)));
  const __m128i plus = _mm_cmpeq_epi8(here, _mm_set1_epi8('+'));
  const __m128i plain = _mm_xor_si128(here, _mm_and_si128(plus, _mm_set1_epi8('+' ^ ' ')));
  const __m128i escaped = _mm_add_epi8(high, low);
  return _mm_or_si128(_mm_and_si128(percent, escaped), _mm_andnot_si128(percent, plain));
}

// Writes the bytes of `v` selected by the 16-bit `keep` mask, packed, at
// `dst` (16 bytes writable), and returns how many.
TOLVEX_TARGET_SSSE3 inline unsigned StoreKept16(std::uint8_t* dst, __m128i v, unsigned keep) {
  const unsigned k0 = keep & 0xFF, k1 = keep >> 8;
  const __m128i shuffle = _mm_add_epi8(
      _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(kPackTable.shuffle[k0])),
                         _mm_loadl_epi64(reinterpret_cast<const __m128i*>(kPackTable.shuffle[k1]))),
      _mm_setr_epi8(0, 0, 0, 0, 0, 0, 0, 0, 8, 8, 8, 8, 8, 8, 8, 8));
  const __m128i packed = _mm_shuffle_epi8(v, shuffle);
  const unsigned n0 = kPackTable.count[k0];
  _mm_storel_epi64(reinterpret_cast<__m128i*>(dst), packed);
  _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + n0), _mm_unpackhi_epi64(packed, packed));
  return n0 + kPackTable.count[k1];
}

// An escape whose '%' is in one block has its digits dropped in the next;
// `carry` holds those dropped positions. A block is decoded only when every
// dropped position in it is a hex digit, which also rules out a '%' there.
// Stops at `stop`, near the end or at the block holding an anomaly (then
// returns false), backed up to the last escape boundary so the exact walk
// can go on.
inline void BackUpToBoundary(DecodeCursor& c, std::uint64_t carry) {
  if (carry != 0) {
    c.src -= carry == 3 ? 1 : 2;
    c.dst -= 1;
  }
}

TOLVEX_TARGET_SSSE3 bool DecodeBlocksSsse3(DecodeCursor& c) {
  const __m128i percent_byte = _mm_set1_epi8('%');
  const std::uint8_t* src = c.src;
  std::uint8_t* dst = c.dst;
  std::uint8_t* const dst_end = c.dst_end;
  const std::uint8_t* const limit = c.end - src < 18 ? src : std::min(c.stop, c.end - 17);
  std::uint64_t carry = 0;
  bool ok = true;
  while (src < limit && dst_end - dst >= 16) {
    const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src));
    const __m128i next1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 1));
    const __m128i next2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 2));
    const __m128i percent = _mm_cmpeq_epi8(here, percent_byte);
    const std::uint64_t escapes = static_cast<unsigned>(_mm_movemask_epi8(percent));
    const std::uint64_t not_hex = static_cast<unsigned>(_mm_movemask_epi8(NotHex16(here)));
    const std::uint64_t dropped = escapes << 1 | escapes << 2 | carry;
    if ((dropped & not_hex & 0xFFFF) != 0) {
      ok = false;
      break;
    }
    dst += StoreKept16(dst, DecodedBytes16(here, next1, next2, percent),
                       static_cast<unsigned>(~dropped & 0xFFFF));
    carry = dropped >> 16;
    src += 16;
  }
  c.src = src;
  c.dst = dst;
  BackUpToBoundary(c, carry);
  return ok;
}

TOLVEX_TARGET_AVX2 bool DecodeBlocksAvx2(DecodeCursor& c) {
  const __m256i percent_byte = _mm256_set1_epi8('%');
  const __m256i nibble = _mm256_set1_epi8(0x0F);
  const __m256i by_low = _mm256_setr_epi8(1, 3, 3, 3, 3, 3, 3, 1, 1, 1, 0, 0, 0, 0, 0, 0,  //
                                          1, 3, 3, 3, 3, 3, 3, 1, 1, 1, 0, 0, 0, 0, 0, 0);
  const __m256i by_high = _mm256_setr_epi8(0, 0, 0, 1, 2, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0,  //
                                           0, 0, 0, 1, 2, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0);
  const __m256i nine = _mm256_set1_epi8('9');
  const __m256i letter_offset = _mm256_set1_epi8(9);
  const __m256i plus_byte = _mm256_set1_epi8('+');
  const __m256i plus_to_space = _mm256_set1_epi8('+' ^ ' ');
  const __m256i group_offset = _mm256_setr_epi8(0, 0, 0, 0, 0, 0, 0, 0, 8, 8, 8, 8, 8, 8, 8, 8,  //
                                                0, 0, 0, 0, 0, 0, 0, 0, 8, 8, 8, 8, 8, 8, 8, 8);
  // Locals, not the cursor: stores through `dst` could alias it.
  const std::uint8_t* src = c.src;
  std::uint8_t* dst = c.dst;
  std::uint8_t* const dst_end = c.dst_end;
  // A block starts only where 34 bytes are readable: its own and two digits.
  const std::uint8_t* const limit = c.end - src < 34 ? src : std::min(c.stop, c.end - 33);
  std::uint64_t carry = 0;
  bool ok = true;
  while (src < limit && dst_end - dst >= 32) {
    const __m256i here = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src));
    const __m256i next1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + 1));
    const __m256i next2 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + 2));
    const __m256i percent = _mm256_cmpeq_epi8(here, percent_byte);
    const __m256i low_class = _mm256_shuffle_epi8(by_low, _mm256_and_si256(here, nibble));
    const __m256i high_class =
        _mm256_shuffle_epi8(by_high, _mm256_and_si256(_mm256_srli_epi16(here, 4), nibble));
    const __m256i not_hex_bytes =
        _mm256_cmpeq_epi8(_mm256_and_si256(low_class, high_class), _mm256_setzero_si256());
    const std::uint64_t escapes = static_cast<std::uint32_t>(_mm256_movemask_epi8(percent));
    const std::uint64_t not_hex = static_cast<std::uint32_t>(_mm256_movemask_epi8(not_hex_bytes));
    const std::uint64_t dropped = escapes << 1 | escapes << 2 | carry;
    if ((dropped & not_hex & 0xFFFFFFFFu) != 0) {
      ok = false;
      break;
    }

    // Digit values, right for hex digits only. A value above 15 spills into
    // the next byte when shifted, but only where that next byte is not '%'
    // (a '%' here makes the digit read for it '%', value 5), so the spill
    // only lands in bytes the blend below discards.
    const __m256i high_digit =
        _mm256_add_epi8(_mm256_and_si256(next1, nibble),
                        _mm256_and_si256(_mm256_cmpgt_epi8(next1, nine), letter_offset));
    const __m256i low_digit =
        _mm256_add_epi8(_mm256_and_si256(next2, nibble),
                        _mm256_and_si256(_mm256_cmpgt_epi8(next2, nine), letter_offset));
    const __m256i escaped = _mm256_add_epi8(_mm256_slli_epi16(high_digit, 4), low_digit);
    const __m256i plus = _mm256_cmpeq_epi8(here, plus_byte);
    const __m256i plain = _mm256_xor_si256(here, _mm256_and_si256(plus, plus_to_space));
    const __m256i bytes = _mm256_blendv_epi8(plain, escaped, percent);

    const auto keep = static_cast<std::uint32_t>(~dropped);
    const unsigned k0 = keep & 0xFF, k1 = keep >> 8 & 0xFF, k2 = keep >> 16 & 0xFF, k3 = keep >> 24;
    const __m128i s01 = _mm_unpacklo_epi64(
        _mm_loadl_epi64(reinterpret_cast<const __m128i*>(kPackTable.shuffle[k0])),
        _mm_loadl_epi64(reinterpret_cast<const __m128i*>(kPackTable.shuffle[k1])));
    const __m128i s23 = _mm_unpacklo_epi64(
        _mm_loadl_epi64(reinterpret_cast<const __m128i*>(kPackTable.shuffle[k2])),
        _mm_loadl_epi64(reinterpret_cast<const __m128i*>(kPackTable.shuffle[k3])));
    const __m256i shuffle =
        _mm256_add_epi8(_mm256_inserti128_si256(_mm256_castsi128_si256(s01), s23, 1), group_offset);
    const __m256i packed = _mm256_shuffle_epi8(bytes, shuffle);
    const __m128i p01 = _mm256_castsi256_si128(packed);
    const __m128i p23 = _mm256_extracti128_si256(packed, 1);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst), p01);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + __builtin_popcount(keep & 0xFF)),
                     _mm_unpackhi_epi64(p01, p01));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + __builtin_popcount(keep & 0xFFFF)), p23);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + __builtin_popcount(keep & 0xFFFFFF)),
                     _mm_unpackhi_epi64(p23, p23));
    dst += __builtin_popcount(keep);
    carry = dropped >> 32;
    src += 32;
  }
  c.src = src;
  c.dst = dst;
  BackUpToBoundary(c, carry);
  return ok;
}

using DecodeBlocks = bool (*)(DecodeCursor&);

DecodeBlocks PickDecodeBlocks() {
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("popcnt")) return DecodeBlocksAvx2;
  if (__builtin_cpu_supports("ssse3")) return DecodeBlocksSsse3;
  return nullptr;
}

// Decodes in cache-sized chunks, growing `decoded` a chunk ahead of the
// output: a fresh buffer is then zero-filled only where the next stores land
// while it is still in cache, and a reused one that is long enough already is
// not filled at all. Any anomaly hands the rest to the throwing walk.
void DecodeWithBlocks(DecodeBlocks blocks, const std::uint8_t* const src, const std::size_t n,
                      Bytes& decoded) {
  constexpr std::size_t kChunk = 32 * 1024;
  constexpr std::size_t kBlockSlack = 64;
  if (decoded.capacity() < n) {
    // The old bytes are overwritten anyway: no point copying them over.
    decoded.clear();
    decoded.reserve(n);
  }
  DecodeCursor c{src, src + n, nullptr, nullptr, nullptr};
  std::size_t written = 0;
  // Makes room for the decoded form of the next `input` bytes, at most.
  auto make_room = [&](std::size_t input) {
    const std::size_t need = std::min(n, written + input);
    if (decoded.size() < need) decoded.resize(need);
    c.dst = decoded.data() + written;
    c.dst_end = decoded.data() + decoded.size();
  };
  bool ok = true;
  for (;;) {
    const std::size_t input = std::min(kChunk, static_cast<std::size_t>(c.end - c.src));
    c.stop = c.src + input;
    make_room(input + kBlockSlack);
    const std::uint8_t* const before = c.src;
    ok = blocks(c);
    written = static_cast<std::size_t>(c.dst - decoded.data());
    if (!ok || c.src == before) break;
  }
  make_room(static_cast<std::size_t>(c.end - c.src));
  if (ok && DecodeRest(c)) {
    decoded.resize(static_cast<std::size_t>(c.dst - decoded.data()));
    return;
  }
  DecodeExactly(c.src, c.end, decoded, static_cast<std::size_t>(c.dst - decoded.data()));
}

#endif  // TOLVEX_CODEC_X86

}  // namespace

namespace {

// `decoded` is separate from the n bytes at `src`.
void DecodeRange(const std::uint8_t* const src, const std::size_t n, Bytes& decoded) {
#if TOLVEX_CODEC_X86
  static const DecodeBlocks blocks = PickDecodeBlocks();
  if (blocks != nullptr && n >= 64) {
    DecodeWithBlocks(blocks, src, n, decoded);
    return;
  }
#endif
  decoded.resize(n);
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

}  // namespace

void DecodeFormBytes(const Bytes& source, Bytes& decoded) {
  if (&source == &decoded) {
    const Bytes copy = source;
    DecodeFormBytes(copy, decoded);
    return;
  }
  DecodeRange(source.data(), source.size(), decoded);
}

void DecodeFormBytes(const std::uint8_t* source, std::size_t n, Bytes& decoded) {
  DecodeRange(source, n, decoded);
}

int FormEscapeDigitValue(std::uint8_t byte) { return kHexTable[byte]; }

std::uint64_t FormEncodedSize(const std::uint8_t* source, std::size_t n) {
  // Each byte's encoded length, eight a step into independent sums so the
  // loads and the adds overlap.
  std::uint64_t extra[4] = {0, 0, 0, 0};
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    extra[0] += kEncodeTable[source[i]].length + kEncodeTable[source[i + 4]].length;
    extra[1] += kEncodeTable[source[i + 1]].length + kEncodeTable[source[i + 5]].length;
    extra[2] += kEncodeTable[source[i + 2]].length + kEncodeTable[source[i + 6]].length;
    extra[3] += kEncodeTable[source[i + 3]].length + kEncodeTable[source[i + 7]].length;
  }
  for (; i < n; ++i) extra[0] += kEncodeTable[source[i]].length;
  return extra[0] + extra[1] + extra[2] + extra[3];
}

void DecodeFormBytesInPlace(Bytes& bytes, std::size_t from) {
  // A stretch at a time into a small buffer, then moved down: the decoded
  // form of a stretch is never longer than the stretch, so the output never
  // overtakes the bytes still to be read, and the reply is not held twice.
  constexpr std::size_t kStretch = 256 * 1024;
  const std::size_t n = bytes.size();
  std::size_t src = std::min(from, n);
  std::size_t dst = 0;
  Bytes stretch;
  while (src < n) {
    std::size_t end = std::min(n, src + kStretch);
    // Not through an escape: its digits stay with their '%'.
    if (end < n) {
      if (bytes[end - 1] == '%') {
        end -= 1;
      } else if (bytes[end - 2] == '%') {
        end -= 2;
      }
    }
    try {
      DecodeRange(bytes.data() + src, end - src, stretch);
    } catch (const DecodeError&) {
      // The walk from this stretch on, in place, stops at the malformed
      // escape with the right error and the bytes before it kept.
      DecodeExactly(bytes.data() + src, bytes.data() + n, bytes, dst);
      return;
    }
    std::memcpy(bytes.data() + dst, stretch.data(), stretch.size());
    dst += stretch.size();
    src = end;
  }
  bytes.resize(dst);
}

}  // namespace tolvex
