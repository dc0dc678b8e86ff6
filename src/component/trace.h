// What a call did, step by step, and why it failed, in words a person
// supporting the component can act on. A result code alone cannot tell a
// refused connection from an unknown host or a rejected certificate.
//
// Every layer (the call sequence, the jobs, the HTTP exchange, the back
// ends) reports through one Trace; the front end chooses where the steps go
// (the terminal for --verbose, the file named by the registry on Windows)
// and shows the cause. Without a sink, a Trace only keeps the cause.
//
// Thread contract: a Trace is told steps from the dialog's thread and from
// the workers beside it (the post's, the archive step's); its lock keeps
// them apart, and its TraceSink is called under that lock, never twice at
// once.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tolvex {

// Where the steps go. Called under the Trace's lock, so the steps of the
// dialog's thread and of the post's worker never interleave.
class TraceSink {
 public:
  virtual ~TraceSink() = default;
  // At the start of each call: whether this call's steps are wanted. A sink
  // whose setting lives outside the program reads it here, so a changed
  // setting applies from the next call on.
  virtual bool BeginCall() = 0;
  // One step: UTF-8, no line end, the access key already masked.
  virtual void Line(std::string_view line) = 0;
};

struct TraceCause {
  std::string what;    // plain words: "connection refused"
  std::string detail;  // the technical detail: error code and text, status line, path
};

class Trace {
 public:
  Trace() = default;
  explicit Trace(TraceSink& sink) : sink_(&sink) {}
  Trace(const Trace&) = delete;
  Trace& operator=(const Trace&) = delete;

  // Starts the record of one call: the last call's cause and reply status
  // are forgotten. `secret` (the access key) is masked in every line and
  // cause from now on.
  void BeginCall(std::string_view title, std::u16string_view secret);
  // Stores the default cause of a non-zero result when no layer named one,
  // and writes the result line.
  void EndCall(std::int16_t result, std::u16string_view error_text);

  // Whether steps are being written. Detail that costs something to gather
  // (a header query, a formatted dump) is gathered only then.
  bool Detailed() const { return detailed_.load(); }
  // A step, written as "* <line>".
  void Step(std::string_view line);
  // A line of the request as sent ("> ") and of the reply as received
  // ("< "), as curl -v shows them.
  void Sent(std::string_view line);
  void Received(std::string_view line);

  // Records why the call is failing. The first cause of a call stands: the
  // layer nearest the fault reports first, and the layers above would only
  // say less.
  void Fail(std::string what, std::string detail = {});
  // Adds what became of the call's data to the recorded cause, whichever
  // layer named it ("the received archive was kept in ...").
  void AddToCause(std::string_view note);
  std::optional<TraceCause> Cause() const;
  // "<what> (<detail>)", or "" when no cause is recorded.
  std::string CauseText() const;

  // The status line of the last HTTP reply, for causes that depend on it.
  void SetReplyStatus(std::string status_line);
  std::string ReplyStatus() const;

 private:
  void Write(std::string_view prefix, std::string_view line);
  std::string MaskedLocked(std::string_view text) const;

  mutable std::mutex mutex_;
  TraceSink* sink_ = nullptr;
  std::atomic<bool> detailed_{false};
  std::vector<std::string> secrets_;
  std::optional<TraceCause> cause_;
  std::string reply_status_;
};

// A Trace without a sink for parts built without one.
Trace& DiscardingTrace();

// The 63-character request header with every character of the key field
// that is not padding replaced by '*', as UTF-8.
std::string MaskedRequestHeader(std::u16string_view header);

// At most `limit` bytes of untrusted data as a quoted, printable text:
// control and non-ASCII bytes as \xNN, "..." after a cut.
std::string QuotedBytes(const std::uint8_t* data, std::size_t size, std::size_t limit = 40);

// "12.3 ms".
std::string FormatMs(double ms);

// Measures one step: "12.3 ms".
class StepClock {
 public:
  StepClock() : start_(std::chrono::steady_clock::now()) {}
  std::string Elapsed() const;

 private:
  std::chrono::steady_clock::time_point start_;
};

}  // namespace tolvex
