#include "curl_trace.h"

#include <cerrno>
#include <cstring>

#include "net/post_request.h"

namespace tolvex::posix {
namespace {

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
    text.remove_suffix(1);
  }
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  return text;
}

std::string ConnectWords(long os_errno) {
  switch (os_errno) {
    case ECONNREFUSED:
      return "connection refused";
    case ETIMEDOUT:
      return "the connection timed out";
    case EHOSTUNREACH:
    case ENETUNREACH:
      return "the server's network is unreachable";
    default:
      return "could not connect to the server";
  }
}

std::string PlainWords(CURLcode code, long os_errno, long proxy_status, std::string_view told) {
  if (proxy_status == 407) return "the proxy asks for authentication";
  if (proxy_status >= 300) return "the proxy refused the connection";
  switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
      return "the server's name could not be resolved";
    case CURLE_COULDNT_RESOLVE_PROXY:
      return "the proxy's name could not be resolved";
    case CURLE_COULDNT_CONNECT:
      return ConnectWords(os_errno);
    case CURLE_OPERATION_TIMEDOUT:
      return "the connection timed out";
    case CURLE_PEER_FAILED_VERIFICATION:
      return "TLS verification failed: the server's certificate is not trusted";
    case CURLE_SSL_CONNECT_ERROR:
      return "the TLS handshake failed";
    case CURLE_SSL_CACERT_BADFILE:
      return "the trusted certificates could not be read";
    case CURLE_PARTIAL_FILE:
      return "the reply was cut off";
    case CURLE_RECV_ERROR:
      return "the connection broke while the reply was read";
    case CURLE_SEND_ERROR:
      return "the connection broke while the request was sent";
    case CURLE_GOT_NOTHING:
      return "the server closed the connection without a reply";
    case CURLE_WEIRD_SERVER_REPLY:
      return "the server's reply is not HTTP";
    case CURLE_UNSUPPORTED_PROTOCOL:
      // What curl says of a reply without an HTTP status line.
      if (told.find("HTTP/0.9") != std::string_view::npos) return "the server's reply is not HTTP";
      return "the URL cannot be used";
    case CURLE_URL_MALFORMAT:
      return "the URL cannot be used";
    case CURLE_ABORTED_BY_CALLBACK:
      return "the exchange was cancelled";
    case CURLE_OUT_OF_MEMORY:
      return "out of memory";
    case CURLE_WRITE_ERROR:
      return "the reply could not be stored";
    default:
      return "the HTTP exchange failed";
  }
}

}  // namespace

TraceCause DescribeCurlFailure(CURLcode code, long os_errno, long proxy_status,
                               std::string_view error_buffer) {
  // curl's text for the code, then what it told of this transfer, unless
  // that says the same again.
  const std::string_view text = curl_easy_strerror(code);
  const std::string_view told = Trimmed(error_buffer);
  std::string detail = "curl error " + std::to_string(static_cast<int>(code)) + ": ";
  if (told.empty()) {
    detail += text;
  } else if (told.find(text) != std::string_view::npos) {
    detail += told;
  } else {
    detail += std::string(text) + ": " + std::string(told);
  }
  if (os_errno != 0 && code == CURLE_COULDNT_CONNECT) {
    detail += "; " + std::string(std::strerror(static_cast<int>(os_errno)));
  }
  if (proxy_status != 0) detail += "; proxy answered " + std::to_string(proxy_status);
  return TraceCause{PlainWords(code, os_errno, proxy_status, told), std::move(detail)};
}

bool CurlTrace::Attach(CURL* easy) {
  bool ok = curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, error_) == CURLE_OK;
  ok = ok && curl_easy_setopt(easy, CURLOPT_DEBUGFUNCTION, &CurlTrace::OnDebug) == CURLE_OK;
  ok = ok && curl_easy_setopt(easy, CURLOPT_DEBUGDATA, this) == CURLE_OK;
  ok = ok && curl_easy_setopt(easy, CURLOPT_VERBOSE, 1L) == CURLE_OK;
  return ok;
}

void CurlTrace::Failed(CURL* easy, CURLcode code) {
  if (reported_) return;
  reported_ = true;
  long os_errno = 0;
  long proxy_status = 0;
  curl_easy_getinfo(easy, CURLINFO_OS_ERRNO, &os_errno);
  curl_easy_getinfo(easy, CURLINFO_HTTP_CONNECTCODE, &proxy_status);
  TraceCause cause = DescribeCurlFailure(code, os_errno, proxy_status, error_);
  curl_off_t announced = -1;
  if (code == CURLE_PARTIAL_FILE &&
      curl_easy_getinfo(easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced) == CURLE_OK &&
      announced >= 0) {
    // Named as the other back ends name it.
    cause.what = ShortReply(received_, static_cast<std::uint64_t>(announced));
  } else if (code == CURLE_PARTIAL_FILE || code == CURLE_RECV_ERROR) {
    cause.detail += "; " + std::to_string(received_) + " reply bytes received";
  }
  trace_.Step(cause.what + ": " + cause.detail);
  trace_.Fail(std::move(cause.what), std::move(cause.detail));
}

int CurlTrace::OnDebug(CURL*, curl_infotype type, char* data, std::size_t size, void* self) {
  auto& t = *static_cast<CurlTrace*>(self);
  const std::string_view text(data, size);
  try {
    switch (type) {
      case CURLINFO_TEXT:
        if (t.trace_.Detailed()) t.trace_.Step(Trimmed(text));
        break;
      case CURLINFO_HEADER_OUT:
        t.OnHeaderOut(text);
        break;
      case CURLINFO_HEADER_IN:
        t.OnHeaderIn(text);
        break;
      case CURLINFO_DATA_OUT:
        t.sent_ += size;
        break;
      case CURLINFO_DATA_IN:
        t.received_ += size;
        break;
      default:
        break;
    }
  } catch (...) {
    // A trace line that cannot be made is not the transfer's problem.
  }
  return 0;
}

void CurlTrace::OnHeaderOut(std::string_view block) {
  if (!trace_.Detailed()) return;
  while (!block.empty()) {
    const std::size_t end = block.find('\n');
    const std::string_view line = Trimmed(block.substr(0, end));
    if (!line.empty()) trace_.Sent(line);
    if (end == std::string_view::npos) break;
    block.remove_prefix(end + 1);
  }
}

void CurlTrace::OnHeaderIn(std::string_view line) {
  const std::string_view trimmed = Trimmed(line);
  if (trimmed.substr(0, 5) == "HTTP/") trace_.SetReplyStatus(std::string(trimmed));
  if (!trimmed.empty()) trace_.Received(trimmed);
}

}  // namespace tolvex::posix
