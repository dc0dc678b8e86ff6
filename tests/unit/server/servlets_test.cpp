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
  const struct {
    const char* name;
    std::string body;
    std::string code, key, payload;
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
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto header = ParseRequestHeader(c.body);
    ASSERT_TRUE(header.has_value());
    EXPECT_EQ(header->kind, c.body[0]);
    EXPECT_EQ(header->code, c.code);
    EXPECT_EQ(header->key, c.key);
    EXPECT_EQ(c.body.substr(header->payload_offset), c.payload);
  }
  EXPECT_FALSE(ParseRequestHeader("").has_value());
  EXPECT_FALSE(ParseRequestHeader("3" + Field("ACME", 12, 4) + Field("key", 49, 3)).has_value());
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

}  // namespace
}  // namespace tolvex::server
