// The application's mouse pointer: the hourglass for the whole of a call,
// over every window of the calling thread. A window sets its own pointer
// whenever the mouse moves over it (WM_SETCURSOR), so the pointer is set
// once and set again after each window of the thread has chosen its own;
// the client's pointer from before the call comes back at the end.
//
// Thread contract: the calling thread, whose windows it changes.
#pragma once

#include "com/win32_api.h"

#include "component/ports.h"

namespace tolvex::win32 {

class CursorPointer final : public MousePointer {
 public:
  CursorPointer() = default;
  CursorPointer(const CursorPointer&) = delete;
  CursorPointer& operator=(const CursorPointer&) = delete;
  ~CursorPointer() override;

  void Set(int pointer) override;
  bool IsHourglass() const { return hourglass_; }

 private:
  void Unhook();

  bool hourglass_ = false;
  HCURSOR before_ = nullptr;
  HHOOK hook_ = nullptr;
};

}  // namespace tolvex::win32
