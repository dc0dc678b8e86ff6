#include "backends/cursor_pointer.h"

namespace tolvex::win32 {

void CursorPointer::Set(int pointer) {
  if (pointer == kPointerHourglass) {
    const HCURSOR previous = SetCursor(LoadCursorW(nullptr, IDC_WAIT));
    if (!hourglass_) before_ = previous;
    hourglass_ = true;
  } else {
    if (hourglass_) SetCursor(before_ ? before_ : LoadCursorW(nullptr, IDC_ARROW));
    hourglass_ = false;
    before_ = nullptr;
  }
}

}  // namespace tolvex::win32
