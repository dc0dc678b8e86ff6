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
#include <utility>
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
  bool AddHeader(Handle request, const std::u16string&) override {
    Use(request);
    return true;
  }
  std::string WireText(const std::u16string& text) override { return ToUtf8(text); }
  bool Send(Handle request, RequestBody& body, const SentObserver& on_sent) override {
    Use(request);
    ++posts;
    if (before_body) before_body();
    // Inside the send, before the body is read: only Abort ends the wait.
    if (hang_in_body) return WaitForAbort();
    const std::string bytes = WholeBody(body);
    const std::size_t size = bytes.size();
    sent_body = FromUtf8(bytes);
    offset_ = 0;
    if (on_send) on_send();
    if (on_sent && size > 0) on_sent(size);
    // A server that never answers: only Abort ends the wait.
    if (hang) return WaitForAbort();
    // A body that ends short fails the send, as on a real connection.
    return !fail_send && size == body.Size();
  }
  ReadStatus Read(Handle request, std::uint8_t* buffer, std::size_t capacity,
                  std::size_t& count) override {
    Use(request);
    count = 0;
    if (hang_in_read) {
      WaitForAbort();
      return ReadStatus::Failed;
    }
    if (on_read) on_read();
    count = std::min({capacity, read_piece, reply.size() - offset_});
    if (count == 0) return ReadStatus::End;
    std::memcpy(buffer, reply.data() + offset_, count);
    offset_ += count;
    return ReadStatus::Data;
  }
  std::optional<Redirect> RedirectOf(Handle) override { return redirect; }
  void Close(Handle handle) override {
    std::lock_guard<std::mutex> lock(mutex_);
    events.push_back("close " + std::to_string(handle));
    closed_.push_back(handle);
  }
  // Closes nothing: the exchange may be inside a call on a handle.
  void Abort() override {
    ++aborts;
    std::lock_guard<std::mutex> lock(mutex_);
    events.push_back("abort");
    aborted_ = true;
    aborted_cv_.notify_all();
  }
  // What happened to the handles, in turn: "abort", "close 3", "use of
  // closed 3"; taken and cleared.
  std::vector<std::string> TakeEvents() {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_.clear();
    return std::exchange(events, {});
  }

  void Reply(const std::string& bytes) { reply.assign(bytes.begin(), bytes.end()); }

  std::vector<std::uint8_t> reply;
  std::function<void()> before_body;  // on the post's worker, before the body is read
  std::function<void()> on_send;      // on the post's worker, as the request goes up
  std::function<void()> on_read;      // on the post's worker, before each piece of the reply
  std::size_t read_piece = SIZE_MAX;  // the most one read returns
  bool fail_send = false;
  bool hang = false;          // after the body has gone up, until Abort
  bool hang_in_body = false;  // in the send, before the body is read, until Abort
  bool hang_in_read = false;  // in the first read of the reply, until Abort
  std::optional<Redirect> redirect;
  std::atomic<bool> waiting{false};  // the request is sent, no reply comes
  std::atomic<int> aborts{0};
  int posts = 0;
  std::u16string sent_body, connected_host, request_path;
  std::uint16_t connected_port = 0;

 private:
  bool WaitForAbort() {
    std::unique_lock<std::mutex> lock(mutex_);
    waiting = true;
    aborted_cv_.wait(lock, [&] { return aborted_; });
    return false;
  }
  void Use(Handle handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (std::find(closed_.begin(), closed_.end(), handle) != closed_.end()) {
      events.push_back("use of closed " + std::to_string(handle));
    }
  }

  std::vector<std::string> events;
  std::vector<Handle> closed_;
  std::size_t offset_ = 0;
  std::mutex mutex_;
  std::condition_variable aborted_cv_;
  bool aborted_ = false;
};

}  // namespace tolvex::testing
