#include "component/result_codes.h"

namespace tolvex {

std::u16string_view ResultText(std::int16_t code) {
  for (const auto& entry : kResultTable) {
    if (entry.code == code) return entry.text;
  }
  return {};
}

std::string_view DefaultCause(std::int16_t result) {
  for (const auto& entry : kResultTable) {
    if (entry.code == result) return entry.cause;
  }
  return "unknown result";
}

std::u16string ControlErrorText(std::int16_t code, std::u16string_view control_text) {
  std::u16string text(ResultText(code));
  text += control_text;
  text += kControlTextSuffix;
  return text;
}

}  // namespace tolvex
