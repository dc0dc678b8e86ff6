#include "component/text.h"

#include <gtest/gtest.h>

namespace tolvex {
namespace {

TEST(Text, TrimmingRemovesOnlyU0020) {
  EXPECT_EQ(TrimSpaces(u"  a b  "), u"a b");
  EXPECT_EQ(TrimSpaces(u"\u3000a\t"), u"\u3000a\t");
  EXPECT_EQ(TrimTrailingSpaces(u" 12  "), u" 12");
  EXPECT_EQ(TrimSpaces(u"   "), u"");
}

TEST(Text, PrefixIgnoresTheCaseOfAsciiLettersOnly) {
  EXPECT_TRUE(StartsWithIgnoringAsciiCase(u"HTTPS://h", u"https://"));
  EXPECT_TRUE(StartsWithIgnoringAsciiCase(u"http://", u"http://"));
  EXPECT_FALSE(StartsWithIgnoringAsciiCase(u"http:/", u"http://"));
  EXPECT_FALSE(StartsWithIgnoringAsciiCase(u" http://h", u"http://"));
  // Fullwidth letters are not ASCII letters.
  EXPECT_FALSE(StartsWithIgnoringAsciiCase(u"\uFF48ttp://h", u"http://"));
}

TEST(Text, FitFieldPadsAndCutsByUtf16Unit) {
  EXPECT_EQ(FitField(u"abc", 5), u"abc  ");
  EXPECT_EQ(FitField(u"abcdefg", 3), u"abc");
  EXPECT_EQ(FitField(u"受注会社", 2), u"受注");
}

TEST(Text, Utf8RoundTripAndInvalidInput) {
  const std::u16string samples[] = {u"", u"abc", u"ﾎﾟｽﾄが終了しました.", u"\U0001F600x"};
  for (const auto& s : samples) EXPECT_EQ(FromUtf8(ToUtf8(s)), s);
  EXPECT_EQ(FromUtf8("\xff"
                     "a"),
            u"\uFFFDa");
  EXPECT_EQ(FromUtf8("\xe3\x81"), u"\uFFFD");
  EXPECT_EQ(ToUtf8(u"\xD800x"), "\xEF\xBF\xBDx");
}

}  // namespace
}  // namespace tolvex
