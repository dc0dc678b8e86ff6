// A scripted HttpSession: each step answers as the test says and every call
// is logged, so a test can check the exact order of calls and closes.
#pragma once

#include <algorithm>
#include <cstring>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
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

  Handle open_result = 1;
  Handle connect_result = 2;
  Handle request_result = 3;
  bool add_header_result = true;
  bool send_result = true;
  std::vector<ReadStep> reads;
  std::string throw_in;  // name of the call that throws, e.g. "Read"
  std::function<void()> on_read;
  std::optional<std::uint64_t> length_hint;
  std::vector<std::uint64_t> sent_steps;  // body bytes reported sent, in turn

  std::vector<std::string> calls;
  std::vector<Handle> closed;
  std::u16string agent, host, verb, path, version, header, body;
  std::uint16_t port = 0;
  bool secure = false;
  std::size_t largest_capacity_asked = 0;

  std::optional<Redirect> redirect;

  std::optional<std::uint64_t> ReplyLengthHint(Handle) override { return length_hint; }
  std::optional<Redirect> RedirectOf(Handle) override { return redirect; }
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
  bool AddHeader(Handle, const std::u16string& h) override {
    Log("AddHeader");
    header = h;
    return add_header_result;
  }
  std::string WireText(const std::u16string& text) override { return ToUtf8(text); }
  bool Send(Handle, RequestBody& b, const SentObserver& on_sent) override {
    Log("Send");
    body = FromUtf8(WholeBody(b));
    for (const std::uint64_t n : sent_steps) on_sent(n);
    return send_result;
  }
  ReadStatus Read(Handle, std::uint8_t* buffer, std::size_t capacity, std::size_t& count) override {
    Log("Read");
    if (on_read) on_read();
    largest_capacity_asked = std::max(largest_capacity_asked, capacity);
    count = 0;
    if (next_read_ >= reads.size()) return ReadStatus::End;
    ReadStep& step = reads[next_read_];
    if (step.status != ReadStatus::Data) {
      ++next_read_;
      return step.status;
    }
    count = std::min(capacity, step.data.size() - offset_);
    std::memcpy(buffer, step.data.data() + offset_, count);
    offset_ += count;
    if (offset_ == step.data.size()) {
      ++next_read_;
      offset_ = 0;
    }
    return ReadStatus::Data;
  }
  void Close(Handle handle) override {
    closed.push_back(handle);
    calls.push_back("Close");
  }

 private:
  void Log(const std::string& call) {
    calls.push_back(call);
    if (call == throw_in) throw std::runtime_error("scripted failure in " + call);
  }

  std::size_t next_read_ = 0;
  std::size_t offset_ = 0;
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
