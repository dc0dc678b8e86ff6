#include "servlets.h"

#include <gtest/gtest.h>

#include <fstream>

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

}  // namespace
}  // namespace tolvex::server
