// The transfer dialog on a terminal: the label and a progress bar on one
// line of stderr, redrawn in place when the dialog repaints, and cleaned up
// when it unloads. Silent when stderr is not a terminal or when quiet.
// Ctrl-C is the Cancel button.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "dialog/dialog_window.h"

namespace tolvex::posix {

class TerminalDialogWindow : public DialogWindow {
 public:
  explicit TerminalDialogWindow(bool quiet);

  void ShowModal(DialogEvents& events) override;
  void Unload() override;
  void SetLabelCaption(const std::u16string& caption) override;
  std::u16string LabelCaption() override { return caption_; }
  void Refresh() override;
  std::int32_t ProgressMax() override;
  void SetProgressValue(float value) override;
  float ProgressValue() override { return value_; }
  std::int32_t WindowHandle() override { return 0; }
  void SetTimerEnabled(DialogTimer timer, bool enabled) override;
  void SetTimerInterval(DialogTimer timer, std::uint32_t milliseconds) override;

 private:
  using Clock = std::chrono::steady_clock;
  struct Timer {
    bool enabled = false;
    std::uint32_t interval = 0;
    Clock::time_point due;
    bool Running() const { return enabled && interval > 0; }
  };
  Timer& TimerFor(DialogTimer timer) { return timer == DialogTimer::Start ? start_ : out_; }
  void Arm(Timer& timer);
  void Draw();
  void Erase();

  bool visible_;
  bool shown_ = false;
  bool unloaded_ = false;
  std::u16string caption_;
  std::u16string shown_caption_;  // as of the last repaint
  float value_ = 0;
  Timer start_, out_;
  bool drawn_ = false;
};

}  // namespace tolvex::posix
