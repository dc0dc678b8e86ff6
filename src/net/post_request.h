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
//  - Only after a successful send is ResponseBytes reset; it then ends as
//    exactly the reply body bytes, or as the single byte 0 for an empty
//    reply. The HTTP status is never looked at. The reset keeps the
//    vector's capacity, so a dialog that posts again reuses the storage of
//    its last reply instead of growing a new one.
//  - Every way out closes each handle that was opened, request first, then
//    connection, then session. Nothing is thrown: every failure, including
//    an exception from the session or the display, an invalid port and an
//    allocation failure, returns false. ResponseBytes is untouched by any
//    failure before the send succeeded and holds what was read otherwise.
//  - Every body byte sent and every reply byte read is reported to
//    display.BytesMoved, from the thread that runs the post.
//  - A read that fails in the middle of the reply (connection reset, TLS
//    error) returns false: a truncated archive must not pass for a whole
//    one. Only the clean end of the reply returns true.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "component/trace.h"
#include "net/http_session.h"
#include "net/server_address.h"
#include "net/status_display.h"

namespace tolvex {

using Bytes = std::vector<std::uint8_t>;

inline constexpr char16_t kUserAgent[] = u"VB6";
inline constexpr char16_t kPostContentTypeHeader[] =
    u"Content-Type:application/x-www-form-urlencoded";
inline constexpr char16_t kConnectedNotice[] = u"Client Connected to ";
inline constexpr std::size_t kReadChunkSize = 32000;
inline constexpr std::uint64_t kMaxReplyReserve = std::uint64_t{256} << 20;

// Each failure records its cause in `trace` unless the session named a
// more precise one first.
bool PostRequest(HttpSession& http, const ServerAddress& address, StatusDisplay& display,
                 const Bytes& body, Bytes& ResponseBytes, Trace& trace = DiscardingTrace());

// The reply as it is collected: ResponseBytes plus the count of bytes
// stored since the reset, which tells the reset element apart from a
// received byte.
struct ReplyCollector {
  Bytes& bytes;
  std::size_t held = 0;
  std::vector<std::uint8_t> buffer = std::vector<std::uint8_t>(kReadChunkSize);
};

// One read of at most kReadChunkSize bytes, appended to the reply. Data when
// bytes were stored; End or Failed leave the reply unchanged. Growth doubles
// the capacity so a long reply is copied a logarithmic number of times, not
// once per chunk.
HttpSession::ReadStatus ReadResponseChunk(HttpSession& http, HttpSession::Handle request,
                                          ReplyCollector& reply);

}  // namespace tolvex
