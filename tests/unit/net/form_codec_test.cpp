#include "net/form_codec.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace tolvex {
namespace {

Bytes B(const std::string& s) { return Bytes(s.begin(), s.end()); }
std::string S(const Bytes& b) { return std::string(b.begin(), b.end()); }

TEST(EncodeFormBytes, Table) {
  const struct {
    std::string in, out;
  } cases[] = {
      {std::string(1, '\0'), "%00"},
      {" ", "+"},
      {"+", "%2B"},
      {"%", "%25"},
      {"a b%", "a+b%25"},
      {"PK\x03\x04", "PK%03%04"},
      {"\xff", "%FF"},
      {".-_*", "%2E%2D%5F%2A"},
      {"\n", "%0A"},
      {"09AZaz", "09AZaz"},
      {"@[`{/:", "%40%5B%60%7B%2F%3A"},
  };
  for (const auto& c : cases) {
    Bytes out{1, 2, 3};
    EncodeFormBytes(B(c.in), out);
    EXPECT_EQ(S(out), c.out);
  }
}

TEST(DecodeFormBytes, Table) {
  const struct {
    std::string in, out;
  } cases[] = {
      {"a+b%25", "a b%"},
      {"%41", "A"},
      {"%2B", "+"},
      {"+", " "},
      {"\x80\xff", "\x80\xff"},
      {"%e9", "\xe9"},
      // Lower-case hex is hex in both places.
      {"%2e", "."},
      {"%fa", "\xfa"},
      {"PK%03%04", "PK\x03\x04"},
      {"", ""},
  };
  for (const auto& c : cases) {
    Bytes out{9};
    DecodeFormBytes(B(c.in), out);
    EXPECT_EQ(S(out), c.out) << c.in;
  }
}

TEST(DecodeFormBytes, FailuresKeepWhatWasDecodedBefore) {
  const struct {
    std::string in;
    DecodeErrorKind kind;
    std::string kept;
  } cases[] = {
      {"ab%", DecodeErrorKind::IndexOutOfRange, "ab"},
      {"ab%4", DecodeErrorKind::IndexOutOfRange, "ab"},
      {"x+%", DecodeErrorKind::IndexOutOfRange, "x "},
      {"a% 1", DecodeErrorKind::Overflow, "a"},
      {"%%41", DecodeErrorKind::Overflow, ""},
      {"%41%FG", DecodeErrorKind::Overflow, "A"},
      {"%F@", DecodeErrorKind::Overflow, ""},
      {"%G1", DecodeErrorKind::Overflow, ""},
      // A bad first digit is found before the missing second one.
      {"q%G", DecodeErrorKind::Overflow, "q"},
  };
  for (const auto& c : cases) {
    Bytes out;
    try {
      DecodeFormBytes(B(c.in), out);
      ADD_FAILURE() << c.in << " decoded";
    } catch (const DecodeError& e) {
      EXPECT_EQ(e.kind, c.kind) << c.in;
      EXPECT_EQ(S(out), c.kept) << c.in;
    }
  }
}

TEST(FormCodec, RandomRoundTripUsesOnlyAllowedBytes) {
  std::mt19937 rng(20261208);
  for (int round = 0; round < 200; ++round) {
    Bytes source(rng() % 2000);
    for (auto& b : source) b = static_cast<std::uint8_t>(rng());
    Bytes encoded, decoded;
    EncodeFormBytes(source, encoded);
    ASSERT_GE(encoded.size(), source.size());
    ASSERT_LE(encoded.size(), source.size() * 3);
    for (std::size_t i = 0; i < encoded.size(); ++i) {
      const auto b = encoded[i];
      const bool allowed = std::isalnum(b) || b == '+' || b == '%';
      ASSERT_TRUE(allowed && b < 0x80) << int(b);
      if (b == '%') {
        ASSERT_LT(i + 2, encoded.size());
        for (int k = 1; k <= 2; ++k) {
          const auto d = encoded[i + k];
          ASSERT_TRUE((d >= '0' && d <= '9') || (d >= 'A' && d <= 'F'));
        }
      }
    }
    DecodeFormBytes(encoded, decoded);
    ASSERT_EQ(decoded, source);
  }
}

// Inputs long enough for the decoder's fast path, with the malformed escape
// placed at every offset around its internal stretch boundaries.
TEST(DecodeFormBytes, LongInputsFailExactlyWhereTheShortWalkFails) {
  std::mt19937 rng(99);
  Bytes raw(30000);
  for (auto& b : raw) b = static_cast<std::uint8_t>(rng());
  Bytes encoded, decoded;
  EncodeFormBytes(raw, encoded);
  DecodeFormBytes(encoded, decoded);
  ASSERT_EQ(decoded, raw);
  const std::size_t quarter = encoded.size() / 4;
  for (const std::size_t at : {std::size_t{0}, quarter - 1, quarter, quarter + 1, 2 * quarter,
                               encoded.size() - 3, encoded.size() - 2, encoded.size() - 1}) {
    for (const std::uint8_t bad : {std::uint8_t{'%'}, std::uint8_t{'G'}}) {
      Bytes broken = encoded;
      broken[at] = bad;
      Bytes expected, got;
      bool short_failed = false, long_failed = false;
      DecodeErrorKind short_kind{}, long_kind{};
      // The reference: the same bytes decoded in small pieces cannot take
      // the fast path, so they follow the plain walk.
      try {
        Bytes prefix(broken.begin(), broken.end());
        expected.clear();
        std::size_t i = 0;
        while (i < prefix.size()) {
          const std::size_t len = prefix[i] == '%' ? 3 : 1;
          Bytes piece(prefix.begin() + i, prefix.begin() + std::min(prefix.size(), i + len));
          Bytes one;
          DecodeFormBytes(piece, one);
          expected.insert(expected.end(), one.begin(), one.end());
          i += len;
        }
      } catch (const DecodeError& e) {
        short_failed = true;
        short_kind = e.kind;
      }
      try {
        DecodeFormBytes(broken, got);
      } catch (const DecodeError& e) {
        long_failed = true;
        long_kind = e.kind;
      }
      ASSERT_EQ(long_failed, short_failed) << at;
      if (long_failed) {
        EXPECT_EQ(long_kind, short_kind) << at;
        // On failure the partial result from the short walk is in `one`,
        // which was lost; compare the kept prefix length instead.
        EXPECT_LE(got.size(), raw.size()) << at;
        EXPECT_TRUE(std::equal(got.begin(), got.end(), expected.begin())) << at;
      } else {
        EXPECT_EQ(got, expected) << at;
      }
    }
  }
}

}  // namespace
}  // namespace tolvex
