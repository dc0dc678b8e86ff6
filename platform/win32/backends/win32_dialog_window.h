// frmTolvex as a real window: an owner-less modal dialog with the status
// label, the Cancel button and a comctl32 progress bar, laid out from the
// design in twips at the system DPI. While it is shown the calling
// thread's other windows are disabled, as under a modal form. Timers behave as the form's timers
// do: one ticks only while it is enabled with a non-zero interval, and a
// new interval while enabled starts its period again. A WM_QUIT queued
// before the show waits until it is over; one that arrives during it ends
// the call as Cancel does; either is in the queue again after the show.
//
// Thread contract: the window of one apartment's root, shown and driven on
// that thread; only Wake may be called from another (the post's worker).
#pragma once

#include "com/win32_api.h"

#include <atomic>
#include <exception>
#include <functional>
#include <optional>
#include <string>

#include "backends/client_windows.h"
#include "backends/cursor_pointer.h"
#include "backends/dialog_font.h"
#include "dialog/dialog_window.h"

namespace tolvex::win32 {

class Win32DialogWindow final : public DialogWindow {
 public:
  // start_hold_ms lengthens the start timer's period to at least that
  // much, so that a test driving the real window can press Cancel before
  // the job starts; only the test build TolvexTestHooks.dll sets it.
  Win32DialogWindow(HINSTANCE module, const CursorPointer& pointer,
                    std::uint32_t start_hold_ms = 0);

  void ShowModal(DialogEvents& events) override;
  void Unload() override;

  void SetLabelCaption(const std::u16string& caption) override;
  std::u16string LabelCaption() override;
  void Refresh() override;

  std::int32_t ProgressMax() override;
  void SetProgressValue(float value) override;
  float ProgressValue() override;

  std::int32_t WindowHandle() override;

  void SetTimerEnabled(DialogTimer timer, bool enabled) override;
  void SetTimerInterval(DialogTimer timer, std::uint32_t milliseconds) override;
  void PumpUntil(const std::function<bool()>& done) override;
  void PumpFor(std::uint32_t milliseconds) override;
  void Wake() override;

 private:
  struct TimerState {
    bool enabled = false;
    std::uint32_t interval = 0;
  };

  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  INT_PTR Handle(UINT message, WPARAM wparam, LPARAM lparam);
  void CreateControls();
  void ResetToDesign();
  void ApplyTimer(DialogTimer timer);
  // Runs an event handler of the dialog logic; an exception closes the
  // dialog and is raised again by ShowModal.
  template <class Handler>
  void Deliver(Handler&& handler);
  // Keeps the first exception that escaped a message and closes the dialog.
  void Escaped(std::exception_ptr error) noexcept;
  // A WM_QUIT waiting in the thread's queue, taken out of it.
  static std::optional<int> TakeQueuedQuit();
  // Waits for the next message and handles it; false when the queue is
  // gone.
  bool PumpOne();
  void Dispatch(MSG& message);
  // A WM_QUIT met by one of our loops: the call ends as by Cancel, and
  // ShowModal posts the quit again once the dialog is gone.
  void Quit(int code);

  HINSTANCE module_;
  const CursorPointer& pointer_;
  std::uint32_t start_hold_ms_;
  DialogEvents* events_ = nullptr;
  std::atomic<HWND> window_{nullptr};
  HWND label_ = nullptr;
  HWND cancel_ = nullptr;
  HWND progress_ = nullptr;
  unique_hfont font_;
  bool unloading_ = false;
  std::exception_ptr escaped_;
  std::optional<int> quit_;  // met during this show
  // The client's windows, disabled while the dialog is shown.
  std::optional<ClientWindowsDisabled> client_windows_;

  std::u16string caption_;
  std::int32_t progress_max_ = 0;
  float progress_value_ = 0;
  TimerState timers_[2];
};

}  // namespace tolvex::win32
