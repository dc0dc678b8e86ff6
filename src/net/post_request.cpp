#include "net/post_request.h"

#include <algorithm>
#include <stdexcept>

#include "component/text.h"

namespace tolvex {
namespace {

// Owns the handles of one post; closes those that were opened, newest
// first, on every way out.
class PostHandles {
 public:
  explicit PostHandles(HttpSession& http) : http_(http) {}
  PostHandles(const PostHandles&) = delete;
  PostHandles& operator=(const PostHandles&) = delete;
  ~PostHandles() {
    CloseQuietly(request);
    CloseQuietly(connection);
    CloseQuietly(internet);
  }

  HttpSession::Handle internet = HttpSession::kNull;
  HttpSession::Handle connection = HttpSession::kNull;
  HttpSession::Handle request = HttpSession::kNull;

 private:
  void CloseQuietly(HttpSession::Handle handle) noexcept {
    if (handle == HttpSession::kNull) return;
    try {
      http_.Close(handle);
    } catch (...) {
      // A handle that cannot be closed must not hide the post's outcome.
    }
  }

  HttpSession& http_;
};

bool Failed(Trace& trace, std::string what, std::string detail = {}) {
  trace.Fail(std::move(what), std::move(detail));
  return false;
}

bool PostOrThrow(HttpSession& http, const ServerAddress& address, StatusDisplay& display,
                 const Bytes& body, Bytes& ResponseBytes, Trace& trace) {
  PostHandles handles(http);
  handles.internet = http.Open(kUserAgent);
  if (handles.internet == HttpSession::kNull) {
    return Failed(trace, "the HTTP session could not be opened");
  }

  ConnectTarget target;
  try {
    target = ResolveConnectTarget(address);
  } catch (const InvalidServerUrl&) {
    return Failed(trace, "the URL's port is not a number from 1 to 65535",
                  "host \"" + ToUtf8(address.ServerHost) + "\"");
  }
  const std::string where = ToUtf8(target.host) + " port " + std::to_string(target.port);
  trace.Step("connecting to " + where + (address.UseHttps ? " (TLS)" : ""));
  handles.connection = http.Connect(handles.internet, target.host, target.port);
  if (handles.connection == HttpSession::kNull) {
    return Failed(trace, "could not connect to the server", where);
  }

  handles.request = http.OpenRequest(handles.connection, u"POST", address.ServerPath, u"HTTP/1.0",
                                     address.UseHttps);
  if (handles.request == HttpSession::kNull) {
    return Failed(trace, "the request could not be opened", "POST " + ToUtf8(address.ServerPath));
  }

  if (!http.AddHeader(handles.request, kPostContentTypeHeader)) {
    return Failed(trace, "the request's header could not be added");
  }

  TransferCounts counts;
  counts.body_size = body.size();
  const bool sent = http.Send(handles.request, body.data(), body.size(), [&](std::uint64_t n) {
    n = std::min<std::uint64_t>(n, counts.body_size);  // a back end counting more says nothing new
    if (n <= counts.sent) return;
    counts.sent = n;
    display.BytesMoved(counts);
  });
  display.SetStatusText(kConnectedNotice + address.ServerHost);
  display.Repaint();
  if (!sent) return Failed(trace, "the request could not be sent", where);

  ResponseBytes.assign(1, 0);
  // Sized once for an announced length, so a long reply is neither copied
  // on growth nor held twice at its peak. A server cannot make us reserve
  // more than kMaxReplyReserve this way.
  counts.reply_size = http.ReplyLengthHint(handles.request);
  if (counts.reply_size) {
    ResponseBytes.reserve(
        static_cast<std::size_t>(std::min<std::uint64_t>(*counts.reply_size, kMaxReplyReserve)));
  }
  ReplyCollector reply{ResponseBytes};
  for (;;) {
    switch (ReadResponseChunk(http, handles.request, reply)) {
      case HttpSession::ReadStatus::Data:
        counts.received = reply.held;
        display.BytesMoved(counts);
        continue;
      case HttpSession::ReadStatus::End:
        return true;
      case HttpSession::ReadStatus::Failed:
        return Failed(trace, "the reply could not be read to its end",
                      std::to_string(reply.held) + " bytes received");
    }
  }
}

}  // namespace

HttpSession::ReadStatus ReadResponseChunk(HttpSession& http, HttpSession::Handle request,
                                          ReplyCollector& reply) {
  std::size_t count = 0;
  const auto status = http.Read(request, reply.buffer.data(), reply.buffer.size(), count);
  if (status != HttpSession::ReadStatus::Data || count == 0) {
    return status == HttpSession::ReadStatus::Failed ? status : HttpSession::ReadStatus::End;
  }
  count = std::min(count, reply.buffer.size());  // a back end must not claim more than it got

  Bytes& bytes = reply.bytes;
  const std::size_t needed = reply.held + count;
  if (needed < reply.held) throw std::length_error("reply too long");
  if (bytes.capacity() < needed) {
    const std::size_t doubled =
        bytes.capacity() > bytes.max_size() / 2 ? bytes.max_size() : bytes.capacity() * 2;
    bytes.reserve(std::max(needed, doubled));
  }
  if (reply.held == 0) bytes.clear();  // the first chunk replaces the reset element
  bytes.insert(bytes.end(), reply.buffer.begin(), reply.buffer.begin() + count);
  reply.held = needed;
  return HttpSession::ReadStatus::Data;
}

bool PostRequest(HttpSession& http, const ServerAddress& address, StatusDisplay& display,
                 const Bytes& body, Bytes& ResponseBytes, Trace& trace) {
  try {
    return PostOrThrow(http, address, display, body, ResponseBytes, trace);
  } catch (const std::exception& error) {
    trace.Fail("the HTTP post failed", error.what());
  } catch (...) {
    trace.Fail("the HTTP post failed");
  }
  return false;
}

}  // namespace tolvex
