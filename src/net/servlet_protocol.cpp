#include "net/servlet_protocol.h"

#include "component/text.h"

namespace tolvex {

std::u16string BuildPostUrl(std::u16string_view server_url, std::u16string_view servlet) {
  constexpr std::u16string_view kHttp = u"http://";
  constexpr std::u16string_view kHttps = u"https://";
  // Schemes are case-insensitive: "HTTP://host/" is no host named "HTTP:".
  const bool has_scheme = StartsWithIgnoringAsciiCase(server_url, kHttp) ||
                          StartsWithIgnoringAsciiCase(server_url, kHttps);
  std::u16string url = has_scheme ? std::u16string() : std::u16string(kHttp);
  url += server_url;
  url += (!url.empty() && url.back() == u'/') ? u"servlets/" : u"/servlets/";
  url += servlet;
  return url;
}

std::u16string BuildRequestHeader(const TransferJob& job) {
  std::u16string header(1, job.ProcessKind);
  header += FitField(job.CompanyCode, kCompanyCodeWidth);
  header += FitField(job.AccessKey, kAccessKeyWidth);
  return header;
}

GetSODataReply ClassifyGetSODataReply(const Bytes& reply) {
  if (reply.size() >= 2 && reply[0] == '0') return GetSODataReply::Data;
  if (reply.size() == 1) {
    switch (reply[0]) {
      case '1':
        return GetSODataReply::NoData;
      case '9':
        return GetSODataReply::ServerError;
      case '8':
        return GetSODataReply::NoResponse;
      default:
        break;
    }
  }
  return GetSODataReply::Invalid;
}

bool IsPutProgressDataAccepted(const Bytes& reply) { return reply.size() == 1 && reply[0] == '0'; }

}  // namespace tolvex
