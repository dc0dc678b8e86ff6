// The calling thread's own windows while our modal dialog is up. A modal
// form of the client's toolkit disables the application's other windows;
// ours must too, or the client's buttons and menus could start the same
// action twice or close the application under a running transfer.
#pragma once

#include "com/win32_api.h"

#include <vector>

namespace tolvex::win32 {

class ClientWindowsDisabled {
 public:
  // Disables every visible, enabled top-level window of this thread and
  // remembers the active one.
  ClientWindowsDisabled();
  ClientWindowsDisabled(const ClientWindowsDisabled&) = delete;
  ClientWindowsDisabled& operator=(const ClientWindowsDisabled&) = delete;
  ~ClientWindowsDisabled() { Restore(); }

  // Enables exactly the windows disabled here and activates the window
  // that was active before. Done while our dialog is still shown, so
  // activation passes straight back to the client instead of to whatever
  // window happens to come next. Only the first call does anything.
  void Restore();

 private:
  static BOOL CALLBACK Collect(HWND window, LPARAM self);

  std::vector<HWND> disabled_;
  HWND active_ = nullptr;
  bool restored_ = false;
};

}  // namespace tolvex::win32
