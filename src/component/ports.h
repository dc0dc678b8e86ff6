// What the Tolvex call sequence needs from its surroundings besides files:
// the application's mouse pointer and the modal transfer dialog.
//
// Thread contract: ModalDialog on the calling thread, one call at a time;
// MousePointer on the calling thread.
#pragma once

namespace tolvex {

inline constexpr int kPointerDefault = 0;
inline constexpr int kPointerHourglass = 11;

class MousePointer {
 public:
  virtual ~MousePointer() = default;
  virtual void Set(int pointer) = 0;
};

// Shows the transfer dialog modally, owner-less; returns once the dialog has
// been unloaded. The dialog runs the job JobMode names. Throws when the
// dialog cannot be shown (for instance, it is already being shown).
class ModalDialog {
 public:
  virtual ~ModalDialog() = default;
  virtual void ShowModal() = 0;
};

class NoMousePointer : public MousePointer {
 public:
  void Set(int) override {}
};

}  // namespace tolvex
