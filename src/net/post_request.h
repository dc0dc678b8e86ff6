// The HTTP POST exchange of module InetConnect, written once against the
// HttpSession port so that every back end (WinINet, libcurl) shares the
// handle bookkeeping and the failure handling below.
//
// PostRequest contract:
//  - Opens, in this order, the session ("VB6" agent), the connection (host
//    and port from ResolveConnectTarget) and a request ("POST" of
//    ServerPath, "HTTP/1.0", secure when UseHttps); adds the one header
//    "Content-Type:application/x-www-form-urlencoded" and sends `body`,
//    bytes already in the wire's code page (HttpSession::WireText).
//  - After the send, successful or not, the status text becomes
//    "Client Connected to " + ServerHost (as written, port included) and the
//    display is repainted, so the notice shows while the reply is read.
//  - Only after a successful send does the reply begin: the sink is told
//    once (ReplySink::Begin, which resets ResponseBytes), then handed every
//    piece read, in order, until the clean end of the reply or until it
//    wants no more. The HTTP status is looked at only for a redirect.
//  - Every way out closes each handle that was opened, request first, then
//    connection, then session. Nothing is thrown: every failure, including
//    an exception from the session or the display, an invalid port and an
//    allocation failure, returns false. ResponseBytes is untouched by any
//    failure before the send succeeded; the sink holds what was read
//    otherwise.
//  - Every body byte sent and every reply byte read is reported to
//    display.BytesMoved, from the thread that runs the post.
//  - A read that fails in the middle of the reply (connection reset, TLS
//    error) returns false, and so does a reply that ends before its
//    announced Content-Length: a truncated archive must not pass for a
//    whole one. Only the clean end of the reply returns true.
//  - A redirect (3xx) is not followed and its body not read: the sink
//    stays empty, so the job sees a reply that is not the servlet's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "component/bytes.h"
#include "component/trace.h"
#include "net/http_session.h"
#include "net/server_address.h"
#include "net/status_display.h"

namespace tolvex {

inline constexpr char16_t kUserAgent[] = u"VB6";
inline constexpr char16_t kPostContentTypeHeader[] =
    u"Content-Type:application/x-www-form-urlencoded";
inline constexpr char16_t kConnectedNotice[] = u"Client Connected to ";
// The most one read of the reply asks for; the session may hand over less.
inline constexpr std::size_t kReadPieceLimit = std::size_t{1} << 20;
inline constexpr std::uint64_t kMaxReplyReserve = std::uint64_t{256} << 20;

// Where the reply goes as it is read, on the thread that runs the post.
class ReplySink {
 public:
  virtual ~ReplySink() = default;
  // The send succeeded and the reply begins; `announced` is its length when
  // the back end knows it (only a hint: the reply is read to its end).
  virtual void Begin(std::optional<std::uint64_t> announced) = 0;
  // The next bytes of the reply, never none. False when the sink has
  // judged the reply and wants no more of it: the reading stops, and the
  // post ends as at the clean end of the reply. May throw; the post then
  // fails.
  virtual bool Take(const std::uint8_t* data, std::size_t n) = 0;
  // Bytes of the reply taken since Begin.
  virtual std::uint64_t Received() const = 0;
};

// A body held whole in memory, for the small ones.
class BytesBody : public RequestBody {
 public:
  explicit BytesBody(const Bytes& bytes) : bytes_(bytes) {}
  std::uint64_t Size() const override { return bytes_.size(); }
  std::size_t Read(std::uint8_t* buffer, std::size_t capacity) noexcept override;

 private:
  const Bytes& bytes_;
  std::size_t offset_ = 0;
};

// The reply collected whole into ResponseBytes, at most `limit` bytes of
// it kept (the rest only counted): the count of bytes stored since the
// reset tells the reset element apart from a received byte. Growth doubles
// the capacity so a long reply is copied a logarithmic number of times,
// not once per chunk.
class ReplyCollector : public ReplySink {
 public:
  explicit ReplyCollector(Bytes& bytes, std::size_t limit = SIZE_MAX)
      : bytes_(bytes), limit_(limit) {}
  // ResponseBytes becomes the single byte 0, sized for an announced length.
  void Begin(std::optional<std::uint64_t> announced) override;
  bool Take(const std::uint8_t* data, std::size_t n) override;
  std::uint64_t Received() const override { return received_; }

 private:
  Bytes& bytes_;
  std::size_t limit_;
  std::size_t held_ = 0;
  std::uint64_t received_ = 0;
};

// The cause of a reply that ended before its announced length:
// "the reply ended after 100 of 372 bytes".
std::string ShortReply(std::uint64_t received, std::uint64_t announced);

// Each failure records its cause in `trace` unless the session named a
// more precise one first.
bool PostRequest(HttpSession& http, const ServerAddress& address, StatusDisplay& display,
                 RequestBody& body, ReplySink& reply, Trace& trace = DiscardingTrace());

}  // namespace tolvex
