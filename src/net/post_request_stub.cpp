#include "net/post_request.h"
namespace tolvex {
bool PostRequest(HttpSession& http, const ServerAddress& address, StatusDisplay& display,
                 const std::u16string& body, Bytes& ResponseBytes) {
  try {
  auto t = ResolveConnectTarget(address);
  auto i = http.Open(u"VB6"); if (!i) return false;
  auto c = http.Connect(i, t.host, t.port); if (!c) { http.Close(i); return false; }
  auto r = http.OpenRequest(c, u"POST", address.ServerPath, u"HTTP/1.0", address.UseHttps);
  if (!r) { http.Close(c); http.Close(i); return false; }
  http.AddHeader(r, u"Content-Type:application/x-www-form-urlencoded");
  bool ok = http.Send(r, body);
  display.SetStatusText(u"Client Connected to " + address.ServerHost); display.Repaint();
  if (!ok) { http.Close(r); http.Close(c); http.Close(i); return false; }
  ResponseBytes.assign(1, 0); std::size_t n = 0; bool first = true; uint8_t buf[32000];
  for (;;) { std::size_t cnt = 0; auto st = http.Read(r, buf, 32000, cnt); if (st != HttpSession::ReadStatus::Data || cnt == 0) { if (st == HttpSession::ReadStatus::Failed) { http.Close(r); http.Close(c); http.Close(i); return false;} break; }
    if (first) { ResponseBytes.clear(); first = false; } ResponseBytes.insert(ResponseBytes.end(), buf, buf + cnt); n += cnt; }
  http.Close(r); http.Close(c); http.Close(i); return true;
  } catch (...) { return false; }
}
}
