#include "net/server_address.h"

#include <gtest/gtest.h>

namespace tolvex {
namespace {

TEST(ParseServerUrl, Table) {
  const struct {
    std::u16string url;
    bool https;
    std::u16string host, path;
  } cases[] = {
      {u"https://host1/app/servlets/GetSOData", true, u"host1", u"/app/servlets/GetSOData"},
      {u"http://host1:8080/servlets/GetSOData", false, u"host1:8080", u"/servlets/GetSOData"},
      {u"HTTPS://host1/x", true, u"host1", u"/x"},
      {u"hTtPs://host1/x", true, u"host1", u"/x"},
      {u"HTTP://host1/x", false, u"host1", u"/x"},
      {u"http:///servlets/GetSOData", false, u"", u"/servlets/GetSOData"},
      {u"x/y", false, u"", u"/y"},
      {u"/x/y", false, u"x", u"/y"},
      {u"http://h/p?q=a/b", false, u"h", u"/p?q=a/b"},
  };
  for (const auto& c : cases) {
    ServerAddress a;
    ParseServerUrl(c.url, a);
    EXPECT_EQ(a.UseHttps, c.https);
    EXPECT_EQ(a.ServerHost, c.host);
    EXPECT_EQ(a.ServerPath, c.path);
  }
}

TEST(ParseServerUrl, NoPathAfterHostKeepsHostAndPathButSetsScheme) {
  ServerAddress a{false, u"old", u"/old"};
  EXPECT_THROW(ParseServerUrl(u"https://host1", a), InvalidServerUrl);
  EXPECT_TRUE(a.UseHttps);
  EXPECT_EQ(a.ServerHost, u"old");
  EXPECT_EQ(a.ServerPath, u"/old");
  EXPECT_THROW(ParseServerUrl(u"", a), InvalidServerUrl);
  EXPECT_THROW(ParseServerUrl(u"h", a), InvalidServerUrl);
}

TEST(ResolveConnectTarget, PortFromHostOrScheme) {
  const struct {
    bool https;
    std::u16string host;
    std::u16string connect_host;
    int port;
  } cases[] = {
      {false, u"host1", u"host1", 80},        {true, u"host1", u"host1", 443},
      {false, u"host1:8080", u"host1", 8080}, {true, u"127.0.0.1:8443", u"127.0.0.1", 8443},
      {false, u"[::1]:8080", u"::1", 8080},   {true, u"[::1]", u"::1", 443},
  };
  for (const auto& c : cases) {
    const auto t = ResolveConnectTarget({c.https, c.host, u"/"});
    EXPECT_EQ(t.host, c.connect_host);
    EXPECT_EQ(t.port, c.port);
  }
  for (const std::u16string bad : {u"h:", u"h:0", u"h:65536", u"h:8o", u"h:123456"}) {
    EXPECT_THROW(ResolveConnectTarget({false, bad, u"/"}), InvalidServerUrl);
  }
}

}  // namespace
}  // namespace tolvex
