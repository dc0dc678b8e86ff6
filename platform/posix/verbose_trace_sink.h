// The terminal's trace: with --verbose, every step of a call on stderr, as
// curl -v shows an exchange ("*" steps, ">" request, "<" reply).
//
// Thread contract: called under its Trace's lock, from the main thread and
// the post's worker, never at once.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "component/trace.h"

namespace tolvex::posix {

class VerboseTraceSink : public TraceSink {
 public:
  VerboseTraceSink(bool verbose, std::FILE* out) : verbose_(verbose), out_(out) {}

  bool BeginCall() override { return verbose_; }
  void Line(std::string_view line) override;

 private:
  bool verbose_;
  std::FILE* out_;
};

// The line the command prints on stderr for a failed call:
// "tolvex: result 9: connection refused (curl error 7: ...)".
std::string CauseLine(std::int16_t result, const Trace& trace);

}  // namespace tolvex::posix
