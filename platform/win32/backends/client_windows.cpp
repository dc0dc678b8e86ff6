#include "backends/client_windows.h"

#include <new>

namespace tolvex::win32 {

ClientWindowsDisabled::ClientWindowsDisabled() : active_(GetActiveWindow()) {
  EnumThreadWindows(GetCurrentThreadId(), Collect, reinterpret_cast<LPARAM>(this));
  // Hidden windows take no input, and some belong to the system (IME,
  // DDE): they are left alone.
  for (HWND window : disabled_) EnableWindow(window, FALSE);
}

BOOL CALLBACK ClientWindowsDisabled::Collect(HWND window, LPARAM self) {
  if (!IsWindowVisible(window) || !IsWindowEnabled(window)) return TRUE;
  try {
    reinterpret_cast<ClientWindowsDisabled*>(self)->disabled_.push_back(window);
    return TRUE;
  } catch (const std::bad_alloc&) {
    // Nothing may leave a system callback: the windows collected so far
    // are disabled and the rest stay as they are.
    return FALSE;
  }
}

void ClientWindowsDisabled::Restore() {
  if (restored_) return;
  restored_ = true;
  for (HWND window : disabled_) {
    if (IsWindow(window)) EnableWindow(window, TRUE);
  }
  if (active_ != nullptr && IsWindow(active_) && IsWindowEnabled(active_)) {
    SetActiveWindow(active_);
  }
}

}  // namespace tolvex::win32
