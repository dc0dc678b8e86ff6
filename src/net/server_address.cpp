#include "net/server_address.h"

#include "component/text.h"

namespace tolvex {

void ParseServerUrl(std::u16string_view url, ServerAddress& address) {
  address.UseHttps = StartsWithIgnoringAsciiCase(url, u"https://");
  const auto slashes = url.find(u"//");
  // Positions as offsets; without "//" the host starts at offset 0 + 2 - 2,
  // that is the search begins at the second character.
  const std::size_t host_start = slashes == std::u16string_view::npos ? 1 : slashes + 2;
  const auto path_start =
      host_start <= url.size() ? url.find(u'/', host_start) : std::u16string_view::npos;
  if (path_start == std::u16string_view::npos) throw InvalidServerUrl();
  address.ServerHost = std::u16string(url.substr(host_start, path_start - host_start));
  address.ServerPath = std::u16string(url.substr(path_start));
}

ConnectTarget ResolveConnectTarget(const ServerAddress& address) {
  ConnectTarget target;
  target.port = address.UseHttps ? 443 : 80;
  std::u16string_view host = address.ServerHost;
  std::u16string_view port;
  if (!host.empty() && host.front() == u'[') {
    const auto close = host.find(u']');
    if (close != std::u16string_view::npos) {
      if (close + 1 < host.size() && host[close + 1] == u':') port = host.substr(close + 2);
      host = host.substr(1, close - 1);
    }
  } else if (const auto colon = host.rfind(u':'); colon != std::u16string_view::npos) {
    port = host.substr(colon + 1);
    host = host.substr(0, colon);
  }
  target.host = std::u16string(host);
  if (!port.empty() || (address.ServerHost.size() && address.ServerHost.back() == u':')) {
    unsigned long value = 0;
    if (port.empty() || port.size() > 5) throw InvalidServerUrl();
    for (const char16_t c : port) {
      if (c < u'0' || c > u'9') throw InvalidServerUrl();
      value = value * 10 + (c - u'0');
    }
    if (value == 0 || value > 65535) throw InvalidServerUrl();
    target.port = static_cast<std::uint16_t>(value);
  }
  return target;
}

}  // namespace tolvex
