#include "backends/cursor_pointer.h"

namespace tolvex::win32 {
namespace {

// Runs after a window of the hooked thread has handled a message. It calls
// only the system, so nothing can escape it into user32.
LRESULT CALLBACK AfterWindowProc(int code, WPARAM wparam, LPARAM lparam) {
  if (code == HC_ACTION) {
    const auto* message = reinterpret_cast<const CWPRETSTRUCT*>(lparam);
    if (message->message == WM_SETCURSOR) SetCursor(LoadCursorW(nullptr, IDC_WAIT));
  }
  return CallNextHookEx(nullptr, code, wparam, lparam);
}

}  // namespace

CursorPointer::~CursorPointer() { Unhook(); }

void CursorPointer::Unhook() {
  if (hook_ != nullptr) UnhookWindowsHookEx(hook_);
  hook_ = nullptr;
}

void CursorPointer::Set(int pointer) {
  if (pointer == kPointerHourglass) {
    const HCURSOR previous = SetCursor(LoadCursorW(nullptr, IDC_WAIT));
    if (!hourglass_) before_ = previous;
    hourglass_ = true;
    // A thread hook needs no module: the procedure runs on this thread.
    if (hook_ == nullptr) {
      hook_ = SetWindowsHookExW(WH_CALLWNDPROCRET, AfterWindowProc, nullptr, GetCurrentThreadId());
    }
  } else {
    Unhook();
    // A thread that had no pointer yet gets the arrow rather than none.
    if (hourglass_) SetCursor(before_ ? before_ : LoadCursorW(nullptr, IDC_ARROW));
    hourglass_ = false;
    before_ = nullptr;
  }
}

}  // namespace tolvex::win32
