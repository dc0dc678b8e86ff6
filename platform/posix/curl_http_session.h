// HttpSession on libcurl. libcurl has no separate connect or request-open
// step, so those handles only record their parameters; the exchange runs
// at Send (request sent, reply headers in) and Read (the body, streamed).
// The request is the one a WinINet client sends: HTTP/1.0, the caller's
// user agent and headers, the body bytes as given (text in the locale's
// charset, WireText), TLS with
// verification against the system store (CURL_CA_BUNDLE or SSL_CERT_FILE,
// and SSL_CERT_DIR, name another), the proxy variables of the environment.
//
// Thread contract: one exchange at a time, run by the post's worker; Abort
// from the dialog's thread (or any other) while it runs, ResetAbort before
// it starts.
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <set>

#include "component/trace.h"
#include "net/http_session.h"

namespace tolvex::posix {

class CurlTransfer;

class CurlHttpSession : public HttpSession {
 public:
  // The steps of each exchange and the cause of a failure go to `trace`.
  explicit CurlHttpSession(Trace& trace = DiscardingTrace());
  ~CurlHttpSession() override;

  Handle Open(const std::u16string& agent) override;
  Handle Connect(Handle internet, const std::u16string& host, std::uint16_t port) override;
  Handle OpenRequest(Handle connection, const std::u16string& verb, const std::u16string& path,
                     const std::u16string& version, bool secure) override;
  bool AddHeader(Handle request, const std::u16string& header) override;
  std::string WireText(const std::u16string& text) override;
  bool Send(Handle request, RequestBody& body, const SentObserver& on_sent) override;
  ReadStatus Read(Handle request, std::uint8_t* buffer, std::size_t capacity,
                  std::size_t& count) override;
  void Close(Handle handle) override;
  std::optional<std::uint64_t> ReplyLengthHint(Handle request) override;
  std::optional<Redirect> RedirectOf(Handle request) override;

  // Makes a running Send or Read, and every later one, fail as soon as
  // possible. Safe from any thread; the session stays aborted until
  // ResetAbort.
  void Abort() override;
  void ResetAbort() override;

  struct Object;  // what a handle stands for

 private:
  template <typename T>
  T* Find(Handle handle);
  Handle Keep(std::unique_ptr<Object> object);

  Trace& trace_;
  std::map<Handle, std::unique_ptr<Object>> objects_;
  Handle next_handle_ = 1;
  std::atomic<bool> aborted_{false};
  std::mutex active_mutex_;
  std::set<CurlTransfer*> active_;
};

}  // namespace tolvex::posix
