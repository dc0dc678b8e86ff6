// The HTTP client port. It mirrors the client's own steps (open, connect,
// open a request, add a header, send, read, close) so that PostRequest can
// keep its handle bookkeeping and failure table in portable code. Strings
// are component strings; a back end converts them to the system's ANSI
// code page (WinINet) or the locale's charset (libcurl) at the call. The
// request body is bytes already in that code page (see WireText), handed
// over a piece at a time as it is sent, so a large one is never held whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace tolvex {

// A request body that gives its bytes a piece at a time while it is sent.
class RequestBody {
 public:
  virtual ~RequestBody() = default;
  // Its length in bytes, known before the first of them goes out: the
  // request's Content-Length.
  virtual std::uint64_t Size() const = 0;
  // Copies the next bytes of the body, at most `capacity`, to `buffer` and
  // returns their count. Fewer than Size() bytes in all, 0 before the end,
  // means the body failed; it keeps its cause for the job. Never throws.
  virtual std::size_t Read(std::uint8_t* buffer, std::size_t capacity) noexcept = 0;
  // True once a Read has failed: the post then failed for the body's sake.
  virtual bool Failed() const { return false; }
};

class HttpSession {
 public:
  using Handle = std::uintptr_t;  // 0 is the null handle
  static constexpr Handle kNull = 0;

  enum class ReadStatus { Data, End, Failed };

  virtual ~HttpSession() = default;

  // User agent; the system's proxy configuration applies.
  virtual Handle Open(const std::u16string& agent) = 0;
  virtual Handle Connect(Handle internet, const std::u16string& host, std::uint16_t port) = 0;
  // secure: TLS (INTERNET_FLAG_SECURE); otherwise a reload past any cache.
  virtual Handle OpenRequest(Handle connection, const std::u16string& verb,
                             const std::u16string& path, const std::u16string& version,
                             bool secure) = 0;
  // Adds the header only if the request has none of that name.
  virtual bool AddHeader(Handle request, const std::u16string& header) = 0;
  // Told the count of body bytes handed to the connection so far, each time
  // it grows, on the thread that runs Send.
  using SentObserver = std::function<void(std::uint64_t sent)>;

  // Component text in the code page of the wire: what a string handed to
  // the other calls becomes.
  virtual std::string WireText(const std::u16string& text) = 0;
  // Sends the request with exactly the body's bytes, read from it as they
  // go out, with its Size() as the Content-Length. The body stays the
  // caller's: the back end keeps no reference to it after the call. False
  // also when the body fails before its end.
  virtual bool Send(Handle request, RequestBody& body, const SentObserver& on_sent) = 0;
  // Reads at most `capacity` reply bytes; Data with count > 0, End at the
  // clean end of the reply, Failed when the connection broke.
  virtual ReadStatus Read(Handle request, std::uint8_t* buffer, std::size_t capacity,
                          std::size_t& count) = 0;
  virtual void Close(Handle handle) = 0;

  // The reply's announced length once Send has succeeded, when the back end
  // has it without asking anything more of the server. The reply is read
  // to its end; one that ends short of this length failed.
  virtual std::optional<std::uint64_t> ReplyLengthHint(Handle request) = 0;

  // What a reply that redirects says, once Send has succeeded: its status
  // line and Location, read from the headers already received. No back end
  // follows a redirect: the request would go, access key and all, to a
  // place the caller did not name, or lose its body on the way.
  struct Redirect {
    std::string status_line;  // "HTTP/1.1 302 Found"
    std::string location;     // "" when the reply names none
  };
  // Nothing when the reply is no redirect (its status is not 3xx).
  virtual std::optional<Redirect> RedirectOf(Handle request) = 0;
  // Makes a blocking Send or Read of the running exchange fail at once.
  // Called from another thread than the exchange, it closes no handle: the
  // exchange may be inside a call on one, and closes them itself. It stays
  // in effect, so an exchange that had not yet begun fails too, until
  // ResetAbort.
  virtual void Abort() = 0;
  // Called before an exchange starts, on the thread that may abort it.
  virtual void ResetAbort() = 0;
};

}  // namespace tolvex
