// Owner of one BSTR.
#pragma once

#include "com/win32_api.h"

#include <oleauto.h>

#include <new>
#include <string_view>

#include "com/unique_handle.h"

namespace tolvex::win32 {

// The owner of a BSTR, and the one way to make one from the component's text.
class unique_bstr : public unique_handle<BSTR, &SysFreeString> {
 public:
  using unique_handle::unique_handle;

  // Throws std::bad_alloc when the system cannot allocate the string.
  static unique_bstr From(std::u16string_view text) {
    BSTR b = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.data()),
                               static_cast<UINT>(text.size()));
    if (b == nullptr) throw std::bad_alloc();
    return unique_bstr(b);
  }
};

}  // namespace tolvex::win32
