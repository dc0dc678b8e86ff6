#include "net/servlet_protocol.h"

#include <gtest/gtest.h>

namespace tolvex {
namespace {

TEST(BuildPostUrl, SchemeAndSlashRules) {
  const struct {
    std::u16string base, servlet, url;
  } cases[] = {
      {u"host1/app", u"GetSOData", u"http://host1/app/servlets/GetSOData"},
      {u"https://host1/app/", u"GetSOData", u"https://host1/app/servlets/GetSOData"},
      // The scheme is known whatever its case.
      {u"HTTP://host1", u"GetSOData", u"HTTP://host1/servlets/GetSOData"},
      {u"Https://host1/", u"PutProgressData", u"Https://host1/servlets/PutProgressData"},
      {u"httpx://host1", u"GetSOData", u"http://httpx://host1/servlets/GetSOData"},
      {u"http://h/servlets/GetSOData", u"GetSOData",
       u"http://h/servlets/GetSOData/servlets/GetSOData"},
      {u"http://h:8080/ctx?x=1", u"PutProgressData",
       u"http://h:8080/ctx?x=1/servlets/PutProgressData"},
      {u"http:/", u"GetSOData", u"http://http:/servlets/GetSOData"},
      {u" h ", u"GetSOData", u"http:// h /servlets/GetSOData"},
  };
  for (const auto& c : cases) EXPECT_EQ(BuildPostUrl(c.base, c.servlet), c.url);
}

TEST(BuildRequestHeader, PadsAndCutsToSixtyThreeCharacters) {
  TransferJob job;
  job.SetProcessKind(u"3");
  job.CompanyCode = u"ABC";
  job.AccessKey = u"";
  auto header = BuildRequestHeader(job);
  EXPECT_EQ(header, u"3ABC" + std::u16string(9, u' ') + std::u16string(50, u' '));

  job.SetProcessKind(u"1");
  job.CompanyCode = u"123456789012345";
  job.AccessKey = std::u16string(60, u'k');
  header = BuildRequestHeader(job);
  EXPECT_EQ(header, u"1123456789012" + std::u16string(50, u'k'));

  job.CompanyCode = u" 受注";
  job.AccessKey = u"鍵 key";
  header = BuildRequestHeader(job);
  EXPECT_EQ(header.size(), 63u);
  EXPECT_EQ(header.substr(1, 12), u" 受注" + std::u16string(9, u' '));
  EXPECT_EQ(header.substr(13, 6), u"鍵 key ");
}

TEST(ReplyClassification, GetSODataTable) {
  using R = GetSODataReply;
  const struct {
    Bytes reply;
    R kind;
  } cases[] = {
      {{'0', 'x'}, R::Data},    {{'0', '%', '4', '1'}, R::Data},
      {{'1'}, R::NoData},       {{'1', 'x'}, R::Invalid},
      {{'0'}, R::Invalid},      {{'9'}, R::ServerError},
      {{'8'}, R::NoResponse},   {{'9', '\n'}, R::Invalid},
      {{'8', '8'}, R::Invalid}, {{0}, R::Invalid},
      {{'<', 'h'}, R::Invalid},
  };
  for (const auto& c : cases) EXPECT_EQ(ClassifyGetSODataReply(c.reply), c.kind);
}

TEST(ReplyClassification, PutProgressDataTable) {
  EXPECT_TRUE(IsPutProgressDataAccepted({'0'}));
  const Bytes rejected[] = {{'0', '\n'}, {'0', '0'}, {'1'}, {'8'}, {'9'}, {0}};
  for (const auto& r : rejected) EXPECT_FALSE(IsPutProgressDataAccepted(r));
}

}  // namespace
}  // namespace tolvex
