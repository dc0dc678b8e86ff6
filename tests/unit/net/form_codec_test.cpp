#include "net/form_codec.h"
#include "net/form_stream.h"

#include <gtest/gtest.h>

#include "support/form_encoding.h"

#include <algorithm>
#include <cctype>
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
    const Bytes in = B(c.in);
    EXPECT_EQ(FormEncodedSize(in.data(), in.size()), c.out.size()) << c.out;
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

// Random inputs, some longer than one of the codec's chunks and encoded
// into a reused buffer longer than some results and shorter than others,
// come out as the byte-by-byte rule says, of the counted length, in the
// allowed bytes only, and decode back.
TEST(FormCodec, RandomInputsFollowTheRuleAndRoundTrip) {
  std::mt19937 rng(20261208);
  Bytes encoded(100000, 0xEE), decoded;
  for (int round = 0; round < 260; ++round) {
    Bytes source(round % 6 == 0 ? 16384 * 3 + rng() % 100 : rng() % 3000);
    const unsigned plain_share = rng() % 3 * 45;  // 0, 45 or 90 percent
    for (auto& b : source) {
      const char* const plain = "az09AZ Mm";
      b = rng() % 100 < plain_share ? static_cast<std::uint8_t>(plain[rng() % 9])
                                    : static_cast<std::uint8_t>(rng());
    }
    EncodeFormBytes(source, encoded);
    ASSERT_EQ(S(encoded), testing::ClientFormEncoded(source)) << "round " << round;
    ASSERT_EQ(FormEncodedSize(source.data(), source.size()), encoded.size()) << "round " << round;
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
    ASSERT_EQ(decoded, source) << "round " << round;
  }
}

// The walk written out here apart from the product's, as the oracle for the
// decoder: returns the failure kind, or nothing, and fills `out` either way.
struct Reference {
  bool failed = false;
  DecodeErrorKind kind{};
  Bytes out;
};

Reference DecodeOneByOne(const Bytes& in) {
  auto hex = [](std::uint8_t d) {
    if (d >= '0' && d <= '9') return d - '0';
    if (d >= 'A' && d <= 'F') return d - 'A' + 10;
    if (d >= 'a' && d <= 'f') return d - 'a' + 10;
    return -1;
  };
  Reference r;
  for (std::size_t i = 0; i < in.size(); ++i) {
    if (in[i] == '+') {
      r.out.push_back(' ');
    } else if (in[i] != '%') {
      r.out.push_back(in[i]);
    } else {
      const int high = i + 1 < in.size() ? hex(in[i + 1]) : -2;
      const int low = i + 2 < in.size() ? hex(in[i + 2]) : -2;
      if (high < 0 || low < 0) {
        r.failed = true;
        r.kind = (high == -2 || (high >= 0 && low == -2)) ? DecodeErrorKind::IndexOutOfRange
                                                          : DecodeErrorKind::Overflow;
        return r;
      }
      r.out.push_back(static_cast<std::uint8_t>(high * 16 + low));
      i += 2;
    }
  }
  return r;
}

// Decodes `in` whole and holds the outcome against the oracle's.
void ExpectAsTheOracle(const Bytes& in, const std::string& where) {
  const Reference want = DecodeOneByOne(in);
  Bytes got{7, 7, 7};
  bool failed = false;
  DecodeErrorKind kind{};
  try {
    DecodeFormBytes(in, got);
  } catch (const DecodeError& e) {
    failed = true;
    kind = e.kind;
  }
  ASSERT_EQ(failed, want.failed) << where;
  if (failed) {
    ASSERT_EQ(kind, want.kind) << where;
  }
  ASSERT_EQ(got, want.out) << where;
}

// Well-formed text mixing every kind of token, escapes in either case, some
// long enough to cross the decoder's chunks, then a few bytes overwritten
// with ones that can break an escape, or the end cut off. Then an escape,
// whole or broken, at every offset across the end of the decoder's first
// 16 KiB chunk.
TEST(DecodeFormBytes, MatchesThePlainWalkOnRandomAndCorruptedInputs) {
  for (const std::string tail : {"%41%42", "%4", "%", "%%41", "%4%", "%G1", "+%7e"}) {
    for (std::size_t shift = 0; shift < 6; ++shift) {
      Bytes in(16 * 1024 - 4 + shift, 'a');
      const std::string after = tail + "z%5A+";
      in.insert(in.end(), after.begin(), after.end());
      ExpectAsTheOracle(in, tail + " shifted by " + std::to_string(shift));
    }
  }
  std::mt19937 rng(4242);
  const char hex_upper[] = "0123456789ABCDEF", hex_lower[] = "0123456789abcdef";
  const std::uint8_t breakers[] = {'%', 'G', 'g', '/', ':', '@', '`', 0x80, 0xC6, '+', '0', 'f'};
  for (int round = 0; round < 3000; ++round) {
    // Now and then many of the decoder's chunks long.
    const std::size_t length = round % 500 == 0  ? 250000 + rng() % 300000
                               : round % 10 == 0 ? 1000 + rng() % 80000
                                                 : rng() % 400;
    // Dense escapes like an archive, or mostly plain bytes like a form.
    const unsigned escape_share = rng() % 2 ? 75 : 10;
    Bytes in;
    while (in.size() < length) {
      const unsigned pick = rng() % 100;
      if (pick < escape_share) {
        const char* digits = rng() % 4 == 0 ? hex_lower : hex_upper;
        in.push_back('%');
        in.push_back(static_cast<std::uint8_t>(digits[rng() % 16]));
        in.push_back(static_cast<std::uint8_t>(digits[rng() % 16]));
      } else if (pick % 5 == 0) {
        in.push_back('+');
      } else {
        const auto b = static_cast<std::uint8_t>(rng());
        in.push_back(b == '%' ? 'x' : b);
      }
    }
    const unsigned corruptions = rng() % 3;
    for (unsigned k = 0; k < corruptions && !in.empty(); ++k) {
      in[rng() % in.size()] = breakers[rng() % sizeof breakers];
    }
    if (rng() % 8 == 0 && !in.empty())
      in.resize(in.size() - 1 - rng() % std::min<std::size_t>(in.size(), 3));

    ExpectAsTheOracle(in, "round " + std::to_string(round));
  }
}

// Appending piece by piece into one buffer gives the whole encoding after
// what was there, and a buffer reserved for the bound is never moved.
TEST(EncodeFormBytes, AppendedPiecesMatchTheWholeEncoding) {
  std::mt19937 rng(77);
  for (const std::size_t piece :
       {std::size_t{1}, std::size_t{7}, std::size_t{4096}, std::size_t{100000}}) {
    Bytes raw(150000);
    for (auto& b : raw) b = static_cast<std::uint8_t>(rng() % 3 == 0 ? 'a' : rng());
    Bytes whole;
    EncodeFormBytes(raw, whole);
    Bytes body = B("3HEAD");
    body.reserve(body.size() + raw.size() * 3 + 1);
    const std::uint8_t* const storage = body.data();
    for (std::size_t at = 0; at < raw.size(); at += piece) {
      AppendFormEncoded(raw.data() + at, std::min(piece, raw.size() - at), body);
    }
    SCOPED_TRACE(piece);
    EXPECT_EQ(body.data(), storage);
    EXPECT_EQ(S(body), "3HEAD" + S(whole));
  }
}

// Decoding into the buffer it reads from, and into one already holding a
// longer result, leaves exactly the decoded bytes.
TEST(DecodeFormBytes, ReusedAndAliasedBuffers) {
  Bytes raw(5000);
  std::mt19937 rng(5);
  for (auto& b : raw) b = static_cast<std::uint8_t>(rng());
  Bytes encoded;
  EncodeFormBytes(raw, encoded);
  Bytes out(encoded.size() * 2, 0xAA);
  DecodeFormBytes(encoded, out);
  EXPECT_EQ(out, raw);
  Bytes same = encoded;
  DecodeFormBytes(same, same);
  EXPECT_EQ(same, raw);
}

// What a stream decoder hands out over the given pieces, and how it ends.
struct Streamed {
  Bytes out;
  bool failed = false;
  DecodeErrorKind kind{};
};

Streamed DecodeInPieces(const Bytes& in, const std::vector<std::size_t>& cuts) {
  Streamed result;
  FormDecoder decoder;
  std::size_t from = 0;
  try {
    // A failing piece appends what it decoded before the escape.
    for (std::size_t i = 0; i <= cuts.size(); ++i) {
      const std::size_t to = i < cuts.size() ? cuts[i] : in.size();
      decoder.Decode(in.data() + from, to - from, result.out);
      from = to;
    }
    decoder.Finish();
  } catch (const DecodeError& e) {
    result.failed = true;
    result.kind = e.kind;
  }
  return result;
}

// Pieces cut anywhere, between a '%' and its digits included, decode and
// fail exactly as the whole input at once: the same bytes before the same
// malformed escape, with the same error.
TEST(FormDecoder, EverySplitAgreesWithTheWholeBuffer) {
  const std::string inputs[] = {
      "%41%42", "a+b%25",   "PK%03%04%14%00+x",
      "%e9%2e", "++",       "%",
      "%4",     "ab%",      "ab%4",
      "%4G",    "%G1",      "%%41",
      "%4%",    "%+1",      "x%2 1",
      "%fa",    "a%41%",    "%41%4",
      "%41%%%", "%7e%7E+%", "",
      "plain",  "\x80%FF",
  };
  for (const std::string& text : inputs) {
    SCOPED_TRACE(text);
    const Bytes in = B(text);
    Streamed want;
    try {
      DecodeFormBytes(in, want.out);
    } catch (const DecodeError& e) {
      want.failed = true;
      want.kind = e.kind;
    }
    std::vector<std::vector<std::size_t>> splits{{}};
    for (std::size_t i = 0; i <= in.size(); ++i) {
      for (std::size_t j = i; j <= in.size(); ++j) splits.push_back({i, j});
    }
    std::vector<std::size_t> every_byte;
    for (std::size_t i = 1; i < in.size(); ++i) every_byte.push_back(i);
    splits.push_back(every_byte);
    for (const auto& cuts : splits) {
      const Streamed got = DecodeInPieces(in, cuts);
      std::string where;
      for (const std::size_t cut : cuts) where += " " + std::to_string(cut);
      ASSERT_EQ(got.failed, want.failed) << "cut at" << where;
      if (want.failed) {
        ASSERT_EQ(got.kind, want.kind) << "cut at" << where;
      }
      ASSERT_EQ(S(got.out), S(want.out)) << "cut at" << where;
    }
  }
}

// A reply of random archive bytes, with and without a malformed escape far
// into it, comes out the same in pieces of the sizes a connection hands
// over, each many of the decoder's chunks long or cutting one.
TEST(FormDecoder, LongPiecesAgreeWithTheWholeBuffer) {
  std::mt19937 rng(19);
  Bytes raw(300000);
  for (auto& b : raw) b = static_cast<std::uint8_t>(rng() % 4 == 0 ? 'a' : rng());
  Bytes encoded;
  EncodeFormBytes(raw, encoded);
  Bytes broken = encoded;
  broken[200001] = '%';
  broken[200002] = 'Z';
  for (const Bytes* in : {&encoded, &broken}) {
    Streamed want;
    try {
      DecodeFormBytes(*in, want.out);
    } catch (const DecodeError& e) {
      want.failed = true;
      want.kind = e.kind;
    }
    for (const std::size_t piece : {std::size_t{1000}, std::size_t{32000}, std::size_t{65537}}) {
      std::vector<std::size_t> cuts;
      for (std::size_t at = piece; at < in->size(); at += piece) cuts.push_back(at);
      const Streamed got = DecodeInPieces(*in, cuts);
      SCOPED_TRACE(piece);
      EXPECT_EQ(got.failed, want.failed);
      EXPECT_EQ(got.out, want.out);
    }
  }
}

}  // namespace
}  // namespace tolvex
