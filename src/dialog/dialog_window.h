// The window port of the transfer dialog. A back end (Win32 dialog,
// terminal, test fake) supplies the controls; the dialog logic in
// FrmTolvex decides what happens on load, on each timer tick and on Cancel.
//
// Thread contract: the dialog's thread, and Wake from any thread; the events
// arrive on the dialog's thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "net/status_display.h"

namespace tolvex {

enum class DialogTimer { Start, Out };

// Events a back end delivers to the dialog logic, on the dialog's thread.
class DialogEvents {
 public:
  virtual ~DialogEvents() = default;
  virtual void OnLoad() = 0;
  // Delivered while the timer is enabled with a non-zero interval.
  virtual void OnTimer(DialogTimer timer) = 0;
  // The Cancel button, or the window's own close command.
  virtual void OnCancel() = 0;
};

class DialogWindow {
 public:
  virtual ~DialogWindow() = default;

  // Creates the window with its designed values (label caption, empty
  // progress bar, both timers stopped), calls events.OnLoad(), runs the
  // dialog's message loop and returns once Unload() has been called.
  // Throws if the window is already shown or cannot be created.
  virtual void ShowModal(DialogEvents& events) = 0;
  // Destroys the window; ShowModal returns once the current handler ends.
  virtual void Unload() = 0;

  virtual void SetLabelCaption(const std::u16string& caption) = 0;
  virtual std::u16string LabelCaption() = 0;
  // Repaints the whole dialog at once.
  virtual void Refresh() = 0;

  virtual std::int32_t ProgressMax() = 0;
  virtual void SetProgressValue(float value) = 0;
  virtual float ProgressValue() = 0;

  // The window handle as the Long the archive control is given.
  virtual std::int32_t WindowHandle() = 0;

  virtual void SetTimerEnabled(DialogTimer timer, bool enabled) = 0;
  virtual void SetTimerInterval(DialogTimer timer, std::uint32_t milliseconds) = 0;

  // Runs the dialog's message loop from inside a handler (timer ticks,
  // Cancel, repaints) until done() is true or the dialog has been
  // unloaded. done() runs on the dialog's thread whenever the loop wakes.
  virtual void PumpUntil(const std::function<bool()>& done) = 0;
  // Runs the dialog's message loop from inside a handler for
  // `milliseconds`, or until the dialog has been unloaded: a pause of the
  // job that keeps the dialog and its Cancel alive.
  virtual void PumpFor(std::uint32_t milliseconds) = 0;
  // Wakes a running PumpUntil so it checks done() again. Any thread.
  virtual void Wake() = 0;

  // The bytes a running post has moved, on the dialog's thread. A window
  // whose controls have no place for them (the progress bar keeps the
  // values the jobs give it) ignores them.
  virtual void ShowTransferProgress(const TransferCounts& /*counts*/) {}
};

}  // namespace tolvex
