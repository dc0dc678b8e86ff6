#include "component/trace.h"

#include <algorithm>
#include <cstdio>

#include "component/result_codes.h"
#include "component/text.h"

namespace tolvex {
namespace {

// A shorter key cannot be told from ordinary text: masking it everywhere
// would garble the lines, and it is masked where it is sent anyway.
constexpr std::size_t kShortestMaskedSecret = 4;

// Where the key sits in the request header: after the kind and the
// 12-character company code, 50 characters.
constexpr std::size_t kKeyFieldStart = 13;
constexpr std::size_t kKeyFieldEnd = 63;

std::size_t CodePoints(std::string_view utf8) {
  std::size_t count = 0;
  for (const char c : utf8) count += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return count;
}

void ReplaceAll(std::string& text, const std::string& secret) {
  const std::string stars(CodePoints(secret), '*');
  for (std::size_t at = text.find(secret); at != std::string::npos;
       at = text.find(secret, at + stars.size())) {
    text.replace(at, secret.size(), stars);
  }
}

}  // namespace

void Trace::BeginCall(std::string_view title, std::u16string_view secret) {
  std::lock_guard<std::mutex> lock(mutex_);
  cause_.reset();
  reply_status_.clear();
  secrets_.clear();
  for (const std::u16string& form : {std::u16string(secret), TrimSpaces(secret)}) {
    if (form.size() < kShortestMaskedSecret) continue;
    std::string utf8 = ToUtf8(form);
    if (std::find(secrets_.begin(), secrets_.end(), utf8) == secrets_.end()) {
      secrets_.push_back(std::move(utf8));
    }
  }
  bool wanted = false;
  try {
    wanted = sink_ != nullptr && sink_->BeginCall();
  } catch (...) {
    // A sink that cannot start only loses its lines.
  }
  detailed_.store(wanted);
  if (!wanted) return;
  try {
    sink_->Line(MaskedLocked("* " + std::string(title)));
  } catch (...) {
    // As for every line: tracing never changes what a call does.
  }
}

void Trace::EndCall(std::int16_t result, std::u16string_view error_text) {
  std::string line = "result " + std::to_string(result);
  if (!error_text.empty()) line += " " + ToUtf8(error_text);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (result != kResultOk && !cause_) cause_ = TraceCause{std::string(DefaultCause(result)), {}};
  }
  const std::string cause = CauseText();
  if (!cause.empty()) line += ": " + cause;
  Step(line);
}

void Trace::Step(std::string_view line) { Write("* ", line); }
void Trace::Sent(std::string_view line) { Write("> ", line); }
void Trace::Received(std::string_view line) { Write("< ", line); }

void Trace::Write(std::string_view prefix, std::string_view line) {
  if (!Detailed()) return;
  std::lock_guard<std::mutex> lock(mutex_);
  try {
    sink_->Line(MaskedLocked(std::string(prefix) + std::string(line)));
  } catch (...) {
    // Tracing never changes what a call does.
  }
}

void Trace::Fail(std::string what, std::string detail) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (cause_) return;
  cause_ = TraceCause{MaskedLocked(what), MaskedLocked(detail)};
}

void Trace::AddToCause(std::string_view note) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (cause_) cause_->what += "; " + MaskedLocked(note);
}

std::optional<TraceCause> Trace::Cause() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return cause_;
}

std::string Trace::CauseText() const {
  const auto cause = Cause();
  if (!cause) return {};
  return cause->detail.empty() ? cause->what : cause->what + " (" + cause->detail + ")";
}

void Trace::SetReplyStatus(std::string status_line) {
  while (!status_line.empty() && (status_line.back() == '\n' || status_line.back() == '\r')) {
    status_line.pop_back();
  }
  std::lock_guard<std::mutex> lock(mutex_);
  reply_status_ = std::move(status_line);
}

std::string Trace::ReplyStatus() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return reply_status_;
}

std::string Trace::MaskedLocked(std::string_view text) const {
  std::string masked(text);
  for (const auto& secret : secrets_) ReplaceAll(masked, secret);
  return masked;
}

Trace& DiscardingTrace() {
  static Trace trace;
  return trace;
}

std::string MaskedRequestHeader(std::u16string_view header) {
  std::u16string masked(header);
  for (std::size_t i = kKeyFieldStart; i < masked.size() && i < kKeyFieldEnd; ++i) {
    if (masked[i] != u' ') masked[i] = u'*';
  }
  return ToUtf8(masked);
}

std::string QuotedBytes(const std::uint8_t* data, std::size_t size, std::size_t limit) {
  std::string quoted = "\"";
  for (std::size_t i = 0; i < size && i < limit; ++i) {
    const std::uint8_t c = data[i];
    if (c == '"' || c == '\\') {
      quoted += '\\';
      quoted += static_cast<char>(c);
    } else if (c >= 0x20 && c < 0x7F) {
      quoted += static_cast<char>(c);
    } else {
      char escaped[5];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
      quoted += escaped;
    }
  }
  quoted += '"';
  if (size > limit) quoted += "...";
  return quoted;
}

std::string FormatMs(double ms) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f ms", ms);
  return text;
}

std::string StepClock::Elapsed() const {
  return FormatMs(
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start_).count());
}

}  // namespace tolvex
