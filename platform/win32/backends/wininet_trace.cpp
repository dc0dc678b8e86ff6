#include "backends/wininet_trace.h"

#include <string>
#include <string_view>

#include "backends/wininet_errors.h"

namespace tolvex::win32 {
namespace {

// A raw head (CRLF-separated lines) of the request or of the reply; empty
// when WinINet has none.
std::string QueryHead(HINTERNET request, DWORD which) {
  DWORD size = 0;
  if (HttpQueryInfoA(request, which, nullptr, &size, nullptr) ||
      GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0) {
    return {};
  }
  std::string head(size, '\0');
  if (!HttpQueryInfoA(request, which, head.data(), &size, nullptr)) return {};
  head.resize(size);
  return head;
}

template <typename Emit>
void EachLine(std::string_view head, Emit emit) {
  while (!head.empty()) {
    const std::size_t end = head.find('\n');
    std::string_view line = head.substr(0, end);
    while (!line.empty() && (line.back() == '\r' || line.back() == '\0')) line.remove_suffix(1);
    if (!line.empty()) emit(line);
    if (end == std::string_view::npos) break;
    head.remove_prefix(end + 1);
  }
}

}  // namespace

void TraceWinInetFailure(Trace& trace, const char* call, DWORD error) {
  std::string detail = DescribeWinInetError(error) + " in " + call;
  std::string words(WinInetErrorWords(error));
  trace.Step(words + ": " + detail);
  trace.Fail(std::move(words), std::move(detail));
}

void TraceExchangeHeads(Trace& trace, HINTERNET request) {
  if (!trace.Detailed()) return;
  EachLine(QueryHead(request, HTTP_QUERY_RAW_HEADERS_CRLF | HTTP_QUERY_FLAG_REQUEST_HEADERS),
           [&](std::string_view line) { trace.Sent(line); });
  bool first = true;
  EachLine(QueryHead(request, HTTP_QUERY_RAW_HEADERS_CRLF), [&](std::string_view line) {
    if (first) trace.SetReplyStatus(std::string(line));
    first = false;
    trace.Received(line);
  });
}

}  // namespace tolvex::win32
