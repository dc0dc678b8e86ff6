#pragma once

#include <string>

namespace tolvex {

// What the post needs of the dialog: the status label's text and an
// immediate repaint.
class StatusDisplay {
 public:
  virtual ~StatusDisplay() = default;
  virtual void SetStatusText(const std::u16string& text) = 0;
  virtual void Repaint() = 0;
};

}  // namespace tolvex
