#include "net/post_request.h"

#include <algorithm>
#include <cstring>
#include <new>
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

}  // namespace

std::string ShortReply(std::uint64_t received, std::uint64_t announced) {
  return "the reply ended after " + std::to_string(received) + " of " + std::to_string(announced) +
         " bytes";
}

namespace {

bool PostOrThrow(HttpSession& http, const ServerAddress& address, StatusDisplay& display,
                 RequestBody& body, ReplySink& reply, Trace& trace) {
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
  counts.body_size = body.Size();
  const bool sent = http.Send(handles.request, body, [&](std::uint64_t n) {
    n = std::min<std::uint64_t>(n, counts.body_size);  // a back end counting more says nothing new
    if (n <= counts.sent) return;
    counts.sent = n;
    display.BytesMoved(counts);
  });
  display.SetStatusText(kConnectedNotice + address.ServerHost);
  display.Repaint();
  if (!sent) return Failed(trace, "the request could not be sent", where);

  counts.reply_size = http.ReplyLengthHint(handles.request);
  reply.Begin(counts.reply_size);
  // Not the servlet's reply: classified as an empty one, which neither
  // servlet sends, and its body is not read.
  if (const auto redirect = http.RedirectOf(handles.request)) {
    trace.Step("the reply redirects to \"" + redirect->location + "\"; not followed");
    trace.Fail("the server redirected the request elsewhere, which is not followed",
               redirect->status_line + "; Location: " +
                   (redirect->location.empty() ? std::string("(none)") : redirect->location));
    return true;
  }
  std::vector<std::uint8_t> buffer(kReadPieceLimit);
  for (;;) {
    std::size_t count = 0;
    const auto status = http.Read(handles.request, buffer.data(), buffer.size(), count);
    if (status == HttpSession::ReadStatus::Failed) {
      if (counts.reply_size && counts.received < *counts.reply_size) {
        return Failed(trace, ShortReply(counts.received, *counts.reply_size), where);
      }
      return Failed(trace, "the reply could not be read to its end",
                    std::to_string(counts.received) + " bytes received");
    }
    if (status != HttpSession::ReadStatus::Data || count == 0) {
      // A connection closed early reads as the end on some back ends.
      if (counts.reply_size && counts.received < *counts.reply_size) {
        return Failed(trace, ShortReply(counts.received, *counts.reply_size), where);
      }
      return true;
    }
    count = std::min(count, buffer.size());  // a back end must not claim more than it got
    counts.received += count;
    const bool more = reply.Take(buffer.data(), count);
    display.BytesMoved(counts);
    if (!more) return true;
  }
}

bool RunPost(HttpSession& http, const ServerAddress& address, StatusDisplay& display,
             RequestBody& body, ReplySink& reply, Trace& trace) {
  try {
    return PostOrThrow(http, address, display, body, reply, trace);
  } catch (const std::bad_alloc&) {
    trace.Fail("there was not enough memory for the post",
               std::to_string(body.Size()) + " body bytes");
  } catch (const std::exception& error) {
    trace.Fail("the HTTP post failed", error.what());
  } catch (...) {
    trace.Fail("the HTTP post failed");
  }
  return false;
}

}  // namespace

std::size_t BytesBody::Read(std::uint8_t* buffer, std::size_t capacity) noexcept {
  const std::size_t n = std::min(capacity, bytes_.size() - offset_);
  if (n > 0) std::memcpy(buffer, bytes_.data() + offset_, n);
  offset_ += n;
  return n;
}

void ReplyCollector::Begin(std::optional<std::uint64_t> announced) {
  bytes_.assign(1, 0);
  held_ = 0;
  received_ = 0;
  // Sized once for an announced length, so a long reply is neither copied
  // on growth nor held twice at its peak. A server cannot make us reserve
  // more than kMaxReplyReserve this way.
  if (announced) {
    bytes_.reserve(
        static_cast<std::size_t>(std::min<std::uint64_t>({*announced, kMaxReplyReserve, limit_})));
  }
}

bool ReplyCollector::Take(const std::uint8_t* data, std::size_t n) {
  received_ += n;
  const std::size_t kept = std::min(n, limit_ - held_);
  if (kept == 0) return true;
  const std::size_t needed = held_ + kept;
  if (bytes_.capacity() < needed) {
    const std::size_t doubled =
        bytes_.capacity() > bytes_.max_size() / 2 ? bytes_.max_size() : bytes_.capacity() * 2;
    bytes_.reserve(std::max(needed, doubled));
  }
  if (held_ == 0) bytes_.clear();  // the first chunk replaces the reset element
  bytes_.insert(bytes_.end(), data, data + kept);
  held_ = needed;
  return true;
}

bool PostRequest(HttpSession& http, const ServerAddress& address, StatusDisplay& display,
                 RequestBody& body, ReplySink& reply, Trace& trace) {
  return RunPost(http, address, display, body, reply, trace);
}

}  // namespace tolvex
