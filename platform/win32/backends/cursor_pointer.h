// The application's mouse pointer: the hourglass for the whole of a call.
// Windows of this component that are shown meanwhile ask IsHourglass() when
// the system wants their cursor.
#pragma once

#include "com/win32_api.h"

#include "component/ports.h"

namespace tolvex::win32 {

class CursorPointer final : public MousePointer {
 public:
  void Set(int pointer) override;
  bool IsHourglass() const { return hourglass_; }

 private:
  bool hourglass_ = false;
  HCURSOR before_ = nullptr;
};

}  // namespace tolvex::win32
