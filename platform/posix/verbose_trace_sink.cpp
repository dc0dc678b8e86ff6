#include "verbose_trace_sink.h"

#include <string>

#include "component/result_codes.h"

namespace tolvex::posix {

void VerboseTraceSink::Line(std::string_view line) {
  std::fwrite(line.data(), 1, line.size(), out_);
  std::fputc('\n', out_);
  std::fflush(out_);
}

std::string CauseLine(std::int16_t result, const Trace& trace) {
  std::string cause = trace.CauseText();
  if (cause.empty()) cause = std::string(DefaultCause(result));
  return "tolvex: result " + std::to_string(result) + ": " + cause;
}

}  // namespace tolvex::posix
