#include "servlets.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "net/form_codec.h"
#include "pack_company_data.h"

namespace tolvex::server {
namespace {

std::string Field(const std::string& s, std::size_t width_in_chars, std::size_t chars_in_s) {
  return s + std::string(width_in_chars - chars_in_s, ' ');
}

TEST(ParseRequestHeader, CountsCharactersAsTheClientDoes) {
  const std::string key50 = Field("key", 50, 3);
  // "テスト商事ｶﾅ" and "表ｷｰ鍵" in CP932 and in UTF-8: kanji and full-width
  // kana take two bytes there, half-width kana one; 表 ends in 0x5C.
  const std::string code932 = "\x83\x65\x83\x58\x83\x67\x8f\xa4\x8e\x96\xb6\xc5";
  const std::string key932 = "\x95\x5c\xb7\xb0\x8c\xae";
  const std::string code8 =
      "\xe3\x83\x86\xe3\x82\xb9\xe3\x83\x88\xe5\x95\x86\xe4\xba\x8b\xef\xbd\xb6\xef\xbe\x85";
  const std::string key8 = "\xe8\xa1\xa8\xef\xbd\xb7\xef\xbd\xb0\xe9\x8d\xb5";
  const struct {
    const char* name;
    std::string body;
    std::string code, key, payload;
    std::string charset = "";
  } cases[] = {
      {"ascii", "3" + Field("ACME", 12, 4) + key50, "ACME", "key", ""},
      {"payload follows", "1" + Field("ACME", 12, 4) + key50 + "PK%03", "ACME", "key", "PK%03"},
      {"utf-8 code", "3" + Field("\xe4\xbc\x9a\xe7\xa4\xbe", 12, 2) + key50 + "x",
       "\xe4\xbc\x9a\xe7\xa4\xbe", "key", "x"},
      {"outside the BMP counts two", "3" + Field("\xf0\x9f\x98\x80", 12, 2) + key50,
       "\xf0\x9f\x98\x80", "key", ""},
      {"not utf-8: a byte a character", "3" + Field("\xe9t\xe9", 12, 3) + key50 + "y", "\xe9t\xe9",
       "key", "y"},
      {"inner spaces kept", "3" + Field("A B", 12, 3) + Field("k y", 50, 3), "A B", "k y", ""},
      {"cp932 counted in characters", "1" + Field(code932, 12, 7) + Field(key932, 50, 4) + "PK",
       code8, key8, "PK", "CP932"},
      {"cp932 ascii", "3" + Field("ACME", 12, 4) + key50, "ACME", "key", "", "CP932"},
      {"windows-1252", "3" + Field("\xe9t\xe9", 12, 3) + key50 + "y", "\xc3\xa9t\xc3\xa9", "key",
       "y", "CP1252"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto header = ParseRequestHeader(c.body, c.charset);
    ASSERT_TRUE(header.has_value());
    EXPECT_EQ(header->kind, c.body[0]);
    EXPECT_EQ(header->code, c.code);
    EXPECT_EQ(header->key, c.key);
    EXPECT_EQ(c.body.substr(header->payload_offset), c.payload);
  }
  EXPECT_FALSE(ParseRequestHeader("").has_value());
  EXPECT_FALSE(ParseRequestHeader("3" + Field("ACME", 12, 4) + Field("key", 49, 3)).has_value());
  // 64 bytes, but a character short: counted in bytes it would pass.
  EXPECT_FALSE(
      ParseRequestHeader("3" + Field(code932, 12, 7) + Field(key932, 50, 4).substr(0, 46), "CP932")
          .has_value());
  // No character: a trail byte CP932 does not have, a lead byte at the end.
  EXPECT_FALSE(ParseRequestHeader("3" + Field("\x81\x7f", 12, 1) + key50, "CP932"));
  EXPECT_FALSE(
      ParseRequestHeader("3" + Field("ACME", 12, 4) + Field("key", 49, 3) + "\x81", "CP932"));
  EXPECT_FALSE(ParseRequestHeader("3" + Field("ACME", 12, 4) + key50, "NO-SUCH-CHARSET"));
}

TEST(Servlets, CodesThatAreNoFileNamesAreRejectedEvenWhenListed) {
  const auto root = std::filesystem::temp_directory_path() / "tolvex-servlets-test";
  std::filesystem::remove_all(root);
  std::filesystem::create_directories(root / "outgoing");
  std::ofstream(root / "companies.txt") << ".. k\na/b k\nOK k\n";
  std::ofstream(root / "outgoing" / "OK.dat") << "data";
  OrderStore store(root);
  const auto body = [](const std::string& code) {
    return "3" + code + std::string(12 - code.size(), ' ') + "k" + std::string(49, ' ');
  };
  EXPECT_EQ(GetSOData(store, body("..")).body, "9");
  EXPECT_EQ(GetSOData(store, body("a/b")).body, "9");
  EXPECT_EQ(GetSOData(store, body("OK")).body.substr(0, 7), "0PK%03%");
  std::filesystem::remove_all(root);
}

TEST(Servlets, AHeaderReadInItsCharsetFindsTheCompanyListedInUtf8) {
  const auto root = std::filesystem::temp_directory_path() / "tolvex-servlets-charset-test";
  std::filesystem::remove_all(root);
  std::filesystem::create_directories(root / "outgoing");
  // "受信" with the key "鍵": listed and named in UTF-8, sent in CP932.
  std::ofstream(root / "companies.txt") << "\xe5\x8f\x97\xe4\xbf\xa1 \xe9\x8d\xb5\n";
  std::ofstream(root / "outgoing" / "\xe5\x8f\x97\xe4\xbf\xa1.dat") << "data";
  OrderStore store(root);
  const std::string body = "3" + Field("\x8e\xf3\x90\x4d", 12, 2) + Field("\x8c\xae", 50, 1);
  EXPECT_EQ(GetSOData(store, body, "CP932").body.substr(0, 7), "0PK%03%");
  EXPECT_EQ(GetSOData(store, body).body, "9");
  EXPECT_EQ(GetSOData(store, body, "CP1252").body, "9");
  std::filesystem::remove_all(root);
}

class ServletStore : public ::testing::Test {
 protected:
  ServletStore() {
    std::filesystem::remove_all(root_);
    std::filesystem::create_directories(root_ / "outgoing");
    std::ofstream(root_ / "companies.txt") << "OK k\nBETA k-beta\n"
                                           << kJaCode8 << " " << kJaKey8 << "\n";
    std::ofstream(root_ / "outgoing" / "progress.txt") << std::string(5000, 'p') << "end\n";
  }
  ~ServletStore() override { std::filesystem::remove_all(root_); }

  static std::string Header(char kind, const std::string& code, const std::string& key) {
    return kind + Field(code, 12, code.size()) + Field(key, 50, key.size());
  }
  // "受信" with a key of 50 "鍵": 115 bytes of header in CP932, so the
  // payload starts well past the 63rd byte.
  static inline const std::string kJaCode8 = "\xe5\x8f\x97\xe4\xbf\xa1";
  static inline const std::string kJaCode932 = "\x8e\xf3\x90\x4d";
  static std::string JaKey(const std::string& character) {
    std::string key;
    for (int i = 0; i < 50; ++i) key += character;
    return key;
  }
  static inline const std::string kJaKey8 = JaKey("\xe9\x8d\xb5");
  static std::string Header932(char kind) {
    return kind + Field(kJaCode932, 12, 2) + JaKey("\x8c\xae");
  }
  std::string Encoded(const Bytes& archive) const {
    Bytes encoded;
    EncodeFormBytes(archive, encoded);
    return std::string(encoded.begin(), encoded.end());
  }
  std::vector<std::filesystem::path> Inbox(const std::string& code) const {
    std::vector<std::filesystem::path> files;
    const auto dir = root_ / "inbox" / code;
    if (!std::filesystem::exists(dir)) return files;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) files.push_back(entry);
    return files;
  }

  // One directory per test: ctest runs the tests side by side.
  const std::filesystem::path root_ =
      std::filesystem::temp_directory_path() /
      (std::string("tolvex-servlet-store-") +
       ::testing::UnitTest::GetInstance()->current_test_info()->name());
  OrderStore store_{root_};
};

TEST_F(ServletStore, HeaderRefusalSaysWhy) {
  const struct {
    std::string body;
    char kind;
    std::string refusal;  // empty: accepted
    std::string charset = "";
  } cases[] = {
      {Header('3', "OK", "k"), '3', ""},
      {Header('1', "BETA", "k-beta") + "PK", '1', ""},
      {Header('1', "OK", "k"), '3', "bad kind '1'"},
      {Header('\x01', "OK", "k"), '3', "bad kind '\\x01'"},
      {Header('3', "NOBODY", "k"), '3', "unknown company NOBODY"},
      {Header('3', "OK", "wrong"), '3', "wrong key for OK"},
      {Header('3', "a/b", "k"), '3', "unusable company code a/b"},
      {"3OK", '3', "short header (3 bytes)"},
      {"", '1', "short header (0 bytes)"},
      {Header932('3'), '3', "", "CP932"},
      {Header932('1') + "PK", '1', "", "CP932"},
      {Header('3', "OK", "k"), '3', "", "CP932"},
      {Header932('3'), '3', "unknown company \x8e\xf3\x90M"},
      {Header932('3').substr(0, 61), '3', "short header (61 bytes)", "CP932"},
      {"3" + Field("\x81\x7f", 12, 1) + Field("k", 50, 1), '3', "header not in CP932 (64 bytes)",
       "CP932"},
  };
  for (const auto& c : cases) {
    const auto refusal = HeaderRefusal(store_, c.body, c.kind, c.charset);
    EXPECT_EQ(refusal.value_or(""), c.refusal) << c.body;
  }
}

TEST_F(ServletStore, OnlySoundArchivesAreStored) {
  const Bytes sound = PackCompanyData(root_ / "outgoing" / "progress.txt");
  Bytes bad_crc = sound;
  const std::string central = "PK\x01\x02";
  const auto at = std::search(bad_crc.begin(), bad_crc.end(), central.begin(), central.end());
  ASSERT_NE(at, bad_crc.end());
  at[16] ^= 0x55;  // the member's CRC in the central directory
  Bytes cut = sound;
  cut.resize(sound.size() / 2);
  const Bytes not_zip = {'P', 'K', 3, 4, 0, 0xFF, ' ', '%'};
  const struct {
    const char* name;
    std::string payload;
    std::string reply;
    std::string outcome_starts;
  } cases[] = {
      {"sound", Encoded(sound), "0", "stored "},
      {"bad crc", Encoded(bad_crc), "9", "an unsound archive"},
      {"cut short", Encoded(cut), "9", "an unsound archive"},
      {"not a zip", Encoded(not_zip), "9", "an unsound archive"},
      {"empty", "", "9", "empty archive"},
      {"bad escape", "PK%4", "9", "undecodable archive"},
  };
  for (const auto& c : cases) {
    const ServletReply reply = PutProgressData(store_, Header('1', "BETA", "k-beta") + c.payload);
    EXPECT_EQ(reply.body, c.reply) << c.name;
    EXPECT_EQ(reply.outcome.rfind(c.outcome_starts, 0), 0u) << c.name << ": " << reply.outcome;
  }
  ASSERT_EQ(Inbox("BETA").size(), 1u);
  std::ifstream in(Inbox("BETA")[0], std::ios::binary);
  EXPECT_EQ(Bytes(std::istreambuf_iterator<char>(in), {}), sound);
}

TEST_F(ServletStore, BodyIntakeJudgesTheHeaderBeforeKeepingTheRest) {
  const Bytes archive = PackCompanyData(root_ / "outgoing" / "progress.txt");
  const std::string upload = Header('1', "BETA", "k-beta") + Encoded(archive);
  const std::string upload932 = Header932('1') + Encoded(archive);
  // A multi-byte character cut between two pieces must still count as one.
  const std::string utf8_code = "\xe4\xbc\x9a\xe7\xa4\xbe";
  std::ofstream(root_ / "companies.txt", std::ios::app) << utf8_code << " k\n";
  const std::string utf8_request = "3" + Field(utf8_code, 12, 2) + Field("k", 50, 1);
  const struct {
    const char* name;
    char kind;
    std::string body;
    std::size_t piece;
    std::uint64_t max_body;
    std::string reply;
    std::string outcome_starts;
    std::string charset = "";
  } cases[] = {
      {"upload in one piece", '1', upload, upload.size(), 1 << 20, "0", "stored "},
      {"upload a byte at a time", '1', upload, 1, 1 << 20, "0", "stored "},
      {"upload in odd pieces", '1', upload, 97, 1 << 20, "0", "stored "},
      {"wrong key", '1', Header('1', "BETA", "nope") + Encoded(archive), 300, 1 << 20, "9",
       "wrong key for BETA"},
      {"short header", '1', "1BETA", 2, 1 << 20, "9", "short header (5 bytes)"},
      {"ends inside an escape", '1', upload + "%4", 7, 1 << 20, "9", "undecodable archive"},
      {"bad escape a byte at a time", '1', Header('1', "BETA", "k-beta") + "PK%G1", 1, 1 << 20, "9",
       "undecodable archive"},
      {"receive", '3', Header('3', "OK", "k"), 5, 1 << 20, "1", "no data for OK"},
      {"utf-8 code cut in two", '3', utf8_request, 2, 1 << 20, "1", "no data for "},
      {"over the limit", '1', upload, 1000, upload.size() - 1, "", "refused: body over"},
      {"cp932 upload a byte at a time", '1', upload932, 1, 1 << 20, "0", "stored ", "CP932"},
      {"cp932 upload in one piece", '1', upload932, upload932.size(), 1 << 20, "0", "stored ",
       "CP932"},
      {"cp932 receive", '3', Header932('3'), 5, 1 << 20, "1", "no data for " + kJaCode8, "CP932"},
      {"cp932 header read as utf-8", '1', upload932, 97, 1 << 20, "9", "unknown company "},
  };
  for (const auto& c : cases) {
    BodyIntake intake(store_, c.kind, c.max_body, c.body.size(), c.charset);
    for (std::size_t at = 0; at < c.body.size(); at += c.piece) {
      intake.Take(c.body.data() + at, std::min(c.piece, c.body.size() - at));
    }
    const ServletReply reply = intake.Finish();
    EXPECT_EQ(reply.body, c.reply) << c.name;
    EXPECT_EQ(reply.outcome.rfind(c.outcome_starts, 0), 0u) << c.name << ": " << reply.outcome;
    EXPECT_EQ(intake.TooLarge(), c.reply.empty()) << c.name;
    if (c.reply == "9" || c.reply.empty()) {
      EXPECT_LE(intake.Held(), kHeaderMaxBytes) << c.name;
    }
  }
  // Each accepted upload stored exactly the archive sent.
  ASSERT_EQ(Inbox("BETA").size(), 3u);
  ASSERT_EQ(Inbox(kJaCode8).size(), 2u);
  for (const auto& code : {std::string("BETA"), kJaCode8}) {
    for (const auto& stored : Inbox(code)) {
      std::ifstream in(stored, std::ios::binary);
      EXPECT_EQ(Bytes(std::istreambuf_iterator<char>(in), {}), archive) << stored;
    }
  }
}

}  // namespace
}  // namespace tolvex::server
