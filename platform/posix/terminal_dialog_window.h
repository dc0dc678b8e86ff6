// The transfer dialog on a terminal: the label and a progress bar on one
// line of stderr, redrawn in place when the dialog repaints, and cleaned up
// when it unloads. While a post moves bytes the line also tells how many,
// how fast and, when the length is known, what share of it. Silent when
// stderr is not a terminal or when quiet.
// Ctrl-C is the Cancel button.
//
// Thread contract: the main thread of tolvex, the dialog's; Wake from any
// thread (the post's worker).
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "dialog/dialog_window.h"

namespace tolvex::posix {

class TerminalDialogWindow : public DialogWindow {
 public:
  explicit TerminalDialogWindow(bool quiet);
  ~TerminalDialogWindow() override;
  TerminalDialogWindow(const TerminalDialogWindow&) = delete;
  TerminalDialogWindow& operator=(const TerminalDialogWindow&) = delete;

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
  void PumpUntil(const std::function<bool()>& done) override;
  void PumpFor(std::uint32_t milliseconds) override;
  void Wake() override;
  void ShowTransferProgress(const TransferCounts& counts) override;

  // "sent 1.5 MiB of 3.0 MiB (50%), 750.0 KiB/s": the direction bytes are
  // moving in, how many so far, the share when the whole is known, the
  // mean rate over `seconds`.
  static std::string DescribeProgress(const TransferCounts& counts, double seconds);

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
  // The message loop: until unloaded, or until *done is true; it wakes by
  // `until` at the latest to ask.
  void RunLoop(const std::function<bool()>* done,
               Clock::time_point until = Clock::time_point::max());
  void Draw();
  void Erase();

  bool visible_;
  bool shown_ = false;
  bool unloaded_ = false;
  std::u16string caption_;
  std::u16string shown_caption_;  // as of the last repaint
  std::string progress_;          // the post's bytes, shown after the caption
  Clock::time_point progress_start_, progress_drawn_;
  float value_ = 0;
  Timer start_, out_;
  bool drawn_ = false;
  DialogEvents* events_ = nullptr;
  int wake_fds_[2] = {-1, -1};  // Wake() from the post's worker
};

}  // namespace tolvex::posix
