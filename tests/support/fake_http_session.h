// An HttpSession that answers every post with a scripted reply and records
// the request.
#pragma once

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "component/text.h"
#include "net/http_session.h"

namespace tolvex::testing {

// The whole of a body, read the way a back end reads it as it sends.
inline std::string WholeBody(RequestBody& body) {
  std::string bytes;
  std::uint8_t piece[4096];
  while (bytes.size() < body.Size()) {
    const std::size_t got = body.Read(piece, sizeof piece);
    if (got == 0) break;
    bytes.append(reinterpret_cast<const char*>(piece), got);
  }
  return bytes;
}

class FakeHttpSession : public HttpSession {
 public:
  Handle Open(const std::u16string&) override { return 1; }
  void ResetAbort() override {
    std::lock_guard<std::mutex> lock(mutex_);
    aborted_ = false;
  }
  Handle Connect(Handle, const std::u16string& host, std::uint16_t port) override {
    connected_host = host;
    connected_port = port;
    return 2;
  }
  Handle OpenRequest(Handle, const std::u16string&, const std::u16string& path,
                     const std::u16string&, bool) override {
    request_path = path;
    return 3;
  }
  bool AddHeader(Handle, const std::u16string&) override { return true; }
  std::string WireText(const std::u16string& text) override { return ToUtf8(text); }
  bool Send(Handle, RequestBody& body, const SentObserver& on_sent) override {
    ++posts;
    if (before_body) before_body();
    const std::string bytes = WholeBody(body);
    const std::size_t size = bytes.size();
    sent_body = FromUtf8(bytes);
    offset_ = 0;
    if (on_send) on_send();
    if (on_sent && size > 0) on_sent(size);
    if (hang) {
      // A server that never answers: only Abort ends the wait.
      std::unique_lock<std::mutex> lock(mutex_);
      waiting = true;
      aborted_cv_.wait(lock, [&] { return aborted_; });
      return false;
    }
    // A body that ends short fails the send, as on a real connection.
    return !fail_send && size == body.Size();
  }
  ReadStatus Read(Handle, std::uint8_t* buffer, std::size_t capacity, std::size_t& count) override {
    count = std::min(capacity, reply.size() - offset_);
    if (count == 0) return ReadStatus::End;
    std::memcpy(buffer, reply.data() + offset_, count);
    offset_ += count;
    return ReadStatus::Data;
  }
  std::optional<Redirect> RedirectOf(Handle) override { return redirect; }
  void Close(Handle) override {}
  void Abort() override {
    ++aborts;
    std::lock_guard<std::mutex> lock(mutex_);
    aborted_ = true;
    aborted_cv_.notify_all();
  }

  void Reply(const std::string& bytes) { reply.assign(bytes.begin(), bytes.end()); }

  std::vector<std::uint8_t> reply;
  std::function<void()> before_body;  // on the post's worker, before the body is read
  std::function<void()> on_send;      // on the post's worker, as the request goes up
  bool fail_send = false;
  bool hang = false;
  std::optional<Redirect> redirect;
  std::atomic<bool> waiting{false};  // the request is sent, no reply comes
  std::atomic<int> aborts{0};
  int posts = 0;
  std::u16string sent_body, connected_host, request_path;
  std::uint16_t connected_port = 0;

 private:
  std::size_t offset_ = 0;
  std::mutex mutex_;
  std::condition_variable aborted_cv_;
  bool aborted_ = false;
};

}  // namespace tolvex::testing
