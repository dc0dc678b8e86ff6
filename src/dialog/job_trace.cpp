#include "dialog/job_trace.h"

#include <cstdlib>

#include "component/result_codes.h"
#include "component/text.h"

namespace tolvex {
namespace {

constexpr std::size_t kReplyShown = 40;

// The status code of "HTTP/1.1 500 Internal Server Error"; 0 when the line
// is missing or not one.
int StatusCode(const std::string& status_line) {
  if (status_line.compare(0, 5, "HTTP/") != 0) return 0;
  const std::size_t space = status_line.find(' ');
  if (space == std::string::npos) return 0;
  return std::atoi(status_line.c_str() + space + 1);
}

}  // namespace

std::string ReplyDetail(const Trace& trace, const Bytes& reply) {
  std::string detail = trace.ReplyStatus();
  if (!detail.empty()) detail += "; ";
  detail += "reply " + std::to_string(reply.size()) + " bytes " +
            QuotedBytes(reply.data(), reply.size(), kReplyShown);
  return detail;
}

void FailOnReply(Trace& trace, std::int16_t result, const Bytes& reply) {
  std::string what;
  const int status = StatusCode(trace.ReplyStatus());
  if (status == 407) {
    what = "the proxy asks for authentication";
  } else if (status >= 400) {
    what = "the server answered with an HTTP error page";
  } else if (result == kResultServerError && !reply.empty() && reply[0] == '9') {
    what = "the server refused the request: unknown company, wrong key or a request it rejects";
  } else {
    what = std::string(DefaultCause(result));
  }
  trace.Step("reply not accepted: " + what);
  trace.Fail(std::move(what), ReplyDetail(trace, reply));
}

void FailOnError(Trace& trace, std::string what, const std::exception& error) {
  trace.Step(what + ": " + error.what());
  trace.Fail(std::move(what), error.what());
}

std::string ReasonOf(const FileError& error) {
  if (!error.reason.empty()) return error.reason;
  if (error.fault != FileFault::kOther) return std::string(FaultWords(error.fault));
  return error.what();
}

std::string KeptNote(const Kept& kept, std::string_view what) {
  if (!kept.path.empty())
    return "the received " + std::string(what) + " was kept in " + ToUtf8(kept.path);
  const std::string reason = kept.error ? ReasonOf(*kept.error) : std::string("no place for it");
  return "the received " + std::string(what) + " could not be kept: " + reason;
}

void FailOnPlacement(Trace& trace, const std::u16string& file, const FileError& error, int attempts,
                     const std::string& elapsed, const Kept& kept) {
  const std::string what =
      ToUtf8(file) + " could not be replaced: " + ReasonOf(error) + "; " + KeptNote(kept, "data");
  std::string detail = error.what();
  detail += "; " + std::to_string(attempts) + (attempts == 1 ? " attempt in " : " attempts in ") +
            elapsed;
  if (kept.path.empty() && kept.error) detail += "; " + std::string(kept.error->what());
  trace.Step(what + " (" + detail + ")");
  trace.Fail(what, std::move(detail));
}

std::string ArchiveErrorDetail(std::int32_t error, std::u16string_view text) {
  return "archive error " + std::to_string(error) + ": " + ToUtf8(text);
}

}  // namespace tolvex
