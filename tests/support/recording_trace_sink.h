// A trace sink that keeps every line, for tests that read what a call told.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "component/trace.h"

namespace tolvex::testing {

class RecordingTraceSink : public TraceSink {
 public:
  bool BeginCall() override {
    ++calls;
    return wanted;
  }
  void Line(std::string_view line) override { lines.emplace_back(line); }

  // Every line, each ended by "\n".
  std::string Text() const {
    std::string text;
    for (const auto& line : lines) text += line + "\n";
    return text;
  }

  bool wanted = true;
  int calls = 0;
  std::vector<std::string> lines;
};

}  // namespace tolvex::testing
