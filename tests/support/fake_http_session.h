// The one HttpSession fake: each call answers as the test scripts it and is
// logged, so a test can check the exact order of calls and closes; a reply
// is read in the pieces the test gives, and an exchange can be made to
// hang until Abort, as a server that never answers does. Also the
// StatusDisplay that records what PostRequest tells it.
#pragma once

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "component/text.h"
#include "net/http_session.h"
#include "net/status_display.h"

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
  struct ReadStep {
    ReadStatus status;
    Bytes data;  // delivered for Data, possibly over several reads
  };

  // What the calls answer.
  Handle open_result = 1;
  Handle connect_result = 2;
  Handle request_result = 3;
  bool add_header_result = true;
  bool send_result = true;            // a body that ends short fails the send all the same
  std::vector<ReadStep> reads;        // the reply, read from the start at each Send
  std::size_t read_piece = SIZE_MAX;  // the most one read returns
  std::string throw_in;               // name of the call that throws, e.g. "Read"
  std::optional<std::uint64_t> length_hint;
  // Body bytes reported sent, in turn; unset: the whole body at once.
  std::optional<std::vector<std::uint64_t>> sent_steps;
  std::optional<Redirect> redirect;
  std::function<void()> before_body;  // on the post's worker, before the body is read
  std::function<void()> on_send;      // on the post's worker, as the request goes up
  std::function<void()> on_read;      // on the post's worker, before each piece of the reply
  bool hang = false;                  // after the body has gone up, until Abort
  bool hang_in_body = false;          // in the send, before the body is read, until Abort
  bool hang_in_read = false;          // in the first read of the reply, until Abort

  // What the calls were given.
  std::vector<std::string> calls;
  std::vector<Handle> closed;
  std::u16string agent, host, verb, path, version, header, body;
  std::uint16_t port = 0;
  bool secure = false;
  std::size_t largest_capacity_asked = 0;
  int posts = 0;
  std::atomic<bool> waiting{false};  // the request is sent, no reply comes
  std::atomic<int> aborts{0};

  // The reply as one piece of data.
  void Reply(const std::string& bytes) {
    reads = {{ReadStatus::Data, Bytes(bytes.begin(), bytes.end())}};
  }

  std::optional<std::uint64_t> ReplyLengthHint(Handle) override { return length_hint; }
  std::optional<Redirect> RedirectOf(Handle) override { return redirect; }
  void ResetAbort() override {
    std::lock_guard<std::mutex> lock(mutex_);
    aborted_ = false;
  }
  Handle Open(const std::u16string& a) override {
    Log("Open");
    agent = a;
    return open_result;
  }
  Handle Connect(Handle, const std::u16string& h, std::uint16_t p) override {
    Log("Connect");
    host = h;
    port = p;
    return connect_result;
  }
  Handle OpenRequest(Handle, const std::u16string& v, const std::u16string& p,
                     const std::u16string& ver, bool s) override {
    Log("OpenRequest");
    verb = v;
    path = p;
    version = ver;
    secure = s;
    return request_result;
  }
  bool AddHeader(Handle request, const std::u16string& h) override {
    Log("AddHeader");
    Use(request);
    header = h;
    return add_header_result;
  }
  std::string WireText(const std::u16string& text) override { return ToUtf8(text); }
  bool Send(Handle request, RequestBody& b, const SentObserver& on_sent) override {
    Log("Send");
    Use(request);
    ++posts;
    if (before_body) before_body();
    // Inside the send, before the body is read: only Abort ends the wait.
    if (hang_in_body) return WaitForAbort();
    const std::string bytes = WholeBody(b);
    body = FromUtf8(bytes);
    next_read_ = 0;
    offset_ = 0;
    if (on_send) on_send();
    if (sent_steps) {
      for (const std::uint64_t n : *sent_steps) {
        if (on_sent) on_sent(n);
      }
    } else if (on_sent && !bytes.empty()) {
      on_sent(bytes.size());
    }
    // A server that never answers: only Abort ends the wait.
    if (hang) return WaitForAbort();
    return send_result && bytes.size() == b.Size();
  }
  ReadStatus Read(Handle request, std::uint8_t* buffer, std::size_t capacity,
                  std::size_t& count) override {
    Log("Read");
    Use(request);
    count = 0;
    if (hang_in_read) {
      WaitForAbort();
      return ReadStatus::Failed;
    }
    if (on_read) on_read();
    largest_capacity_asked = std::max(largest_capacity_asked, capacity);
    // An empty piece of data reads as nothing at all.
    while (next_read_ < reads.size() && reads[next_read_].status == ReadStatus::Data &&
           reads[next_read_].data.empty()) {
      ++next_read_;
    }
    if (next_read_ >= reads.size()) return ReadStatus::End;
    const ReadStep& step = reads[next_read_];
    if (step.status != ReadStatus::Data) {
      ++next_read_;
      return step.status;
    }
    count = std::min({capacity, read_piece, step.data.size() - offset_});
    std::memcpy(buffer, step.data.data() + offset_, count);
    offset_ += count;
    if (offset_ == step.data.size()) {
      ++next_read_;
      offset_ = 0;
    }
    return ReadStatus::Data;
  }
  void Close(Handle handle) override {
    std::lock_guard<std::mutex> lock(mutex_);
    calls.push_back("Close");
    events_.push_back("close " + std::to_string(handle));
    closed.push_back(handle);
  }
  // Closes nothing: the exchange may be inside a call on a handle.
  void Abort() override {
    ++aborts;
    std::lock_guard<std::mutex> lock(mutex_);
    events_.push_back("abort");
    aborted_ = true;
    aborted_cv_.notify_all();
  }
  // What happened to the handles, in turn: "abort", "close 3", "use of
  // closed 3"; taken and cleared, with the handles closed so far.
  std::vector<std::string> TakeEvents() {
    std::lock_guard<std::mutex> lock(mutex_);
    closed.clear();
    return std::exchange(events_, {});
  }

 private:
  void Log(const std::string& call) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      calls.push_back(call);
    }
    if (call == throw_in) throw std::runtime_error("scripted failure in " + call);
  }
  bool WaitForAbort() {
    std::unique_lock<std::mutex> lock(mutex_);
    waiting = true;
    aborted_cv_.wait(lock, [&] { return aborted_; });
    return false;
  }
  void Use(Handle handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (std::find(closed.begin(), closed.end(), handle) != closed.end()) {
      events_.push_back("use of closed " + std::to_string(handle));
    }
  }

  std::vector<std::string> events_;
  std::size_t next_read_ = 0;
  std::size_t offset_ = 0;
  std::mutex mutex_;
  std::condition_variable aborted_cv_;
  bool aborted_ = false;
};

class RecordingDisplay : public StatusDisplay {
 public:
  std::vector<std::u16string> texts;
  std::vector<TransferCounts> moved;
  int repaints = 0;
  bool throw_on_repaint = false;

  void BytesMoved(const TransferCounts& counts) override { moved.push_back(counts); }
  void SetStatusText(const std::u16string& text) override { texts.push_back(text); }
  void Repaint() override {
    if (throw_on_repaint) throw std::runtime_error("repaint failed");
    ++repaints;
  }
};

}  // namespace tolvex::testing
