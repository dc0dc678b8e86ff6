#include "net/form_decode_blocks.h"

#include <array>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <tmmintrin.h>
#define TOLVEX_FORM_BLOCKS 1
#endif

namespace tolvex::form_blocks {

#ifdef TOLVEX_FORM_BLOCKS
namespace {

// For each set of kept positions among eight bytes, the shuffle that packs
// them to the front, and how many there are.
struct Packing {
  std::array<std::array<std::uint8_t, 8>, 256> order;
  std::array<std::uint8_t, 256> count;
};

constexpr Packing MakePacking() {
  Packing packing{};
  for (unsigned mask = 0; mask < 256; ++mask) {
    unsigned n = 0;
    for (unsigned bit = 0; bit < 8; ++bit) {
      if (mask & (1u << bit)) packing.order[mask][n++] = static_cast<std::uint8_t>(bit);
    }
    for (unsigned rest = n; rest < 8; ++rest) packing.order[mask][rest] = 0x80;
    packing.count[mask] = static_cast<std::uint8_t>(n);
  }
  return packing;
}

constexpr Packing kPacking = MakePacking();

// Each byte's value as a hex digit (0-9, A-F, a-f), and whether it is one.
__attribute__((target("ssse3"))) inline __m128i HexValue(__m128i bytes, __m128i& valid) {
  const __m128i flip = _mm_set1_epi8(static_cast<char>(0x80));
  // Unsigned "below n" through signed compares of values moved by 0x80.
  const __m128i digit = _mm_sub_epi8(bytes, _mm_set1_epi8('0'));
  const __m128i is_digit =
      _mm_cmplt_epi8(_mm_xor_si128(digit, flip), _mm_set1_epi8(static_cast<char>(0x80 + 10)));
  const __m128i letter = _mm_sub_epi8(_mm_or_si128(bytes, _mm_set1_epi8(0x20)), _mm_set1_epi8('a'));
  const __m128i is_letter =
      _mm_cmplt_epi8(_mm_xor_si128(letter, flip), _mm_set1_epi8(static_cast<char>(0x80 + 6)));
  valid = _mm_or_si128(is_digit, is_letter);
  return _mm_or_si128(_mm_and_si128(is_digit, digit),
                      _mm_and_si128(is_letter, _mm_add_epi8(letter, _mm_set1_epi8(10))));
}

__attribute__((target("ssse3"))) void DecodeWithShuffles(const std::uint8_t*& src,
                                                         const std::uint8_t* stop,
                                                         const std::uint8_t* end,
                                                         std::uint8_t*& dst) {
  const __m128i percent = _mm_set1_epi8('%');
  const __m128i plus = _mm_set1_epi8('+');
  const __m128i space = _mm_set1_epi8(' ');
  const std::uint8_t* in = src;
  std::uint8_t* out = dst;
  while (stop - in >= 16 && end - in >= 18) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
    const __m128i is_escape = _mm_cmpeq_epi8(bytes, percent);
    const unsigned escapes = static_cast<unsigned>(_mm_movemask_epi8(is_escape));
    __m128i decoded;
    if (escapes == 0) {
      const __m128i is_plus = _mm_cmpeq_epi8(bytes, plus);
      decoded = _mm_or_si128(_mm_andnot_si128(is_plus, bytes), _mm_and_si128(is_plus, space));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out), decoded);
      in += 16;
      out += 16;
      continue;
    }
    __m128i high_ok, low_ok;
    const __m128i high =
        HexValue(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 1)), high_ok);
    const __m128i low = HexValue(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 2)), low_ok);
    const unsigned well_formed =
        static_cast<unsigned>(_mm_movemask_epi8(_mm_and_si128(high_ok, low_ok)));
    // A '%' whose two digits are not hex digits, among them a '%' taken
    // for a digit: the walk finds which and says how it failed.
    if ((escapes & ~well_formed) != 0) break;
    // The values stay below 16, so the 16-bit shift moves no bit between
    // bytes.
    const __m128i escaped = _mm_or_si128(_mm_slli_epi16(high, 4), low);
    const __m128i is_plus = _mm_cmpeq_epi8(bytes, plus);
    const __m128i plain =
        _mm_or_si128(_mm_andnot_si128(is_plus, bytes), _mm_and_si128(is_plus, space));
    decoded = _mm_or_si128(_mm_andnot_si128(is_escape, plain), _mm_and_si128(is_escape, escaped));
    // The two digits after each '%' give no byte of their own; those of an
    // escape at the block's last two bytes lie in the next one.
    const unsigned kept = ~((escapes << 1) | (escapes << 2)) & 0xFFFF;
    const unsigned first = kept & 0xFF, second = kept >> 8;
    __m128i order;
    std::memcpy(&order, kPacking.order[first].data(), 8);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_shuffle_epi8(decoded, order));
    out += kPacking.count[first];
    std::memcpy(&order, kPacking.order[second].data(), 8);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out),
                     _mm_shuffle_epi8(_mm_srli_si128(decoded, 8), order));
    out += kPacking.count[second];
    in += 16 + ((escapes >> 15) & 1) * 2 + ((escapes >> 14) & 1);
  }
  src = in;
  dst = out;
}

bool HasShuffles() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("ssse3");
}

}  // namespace
#endif

void DecodeBlocks(const std::uint8_t*& src, const std::uint8_t* stop, const std::uint8_t* end,
                  std::uint8_t*& dst) {
#ifdef TOLVEX_FORM_BLOCKS
  static const bool shuffles = HasShuffles();
  if (shuffles) DecodeWithShuffles(src, stop, end, dst);
#else
  (void)src, (void)stop, (void)end, (void)dst;
#endif
}

}  // namespace tolvex::form_blocks
