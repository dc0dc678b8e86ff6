// Owner of one VARIANT: cleared (and whatever it holds released) at the end.
#pragma once

#include "com/win32_api.h"

#include <oleauto.h>

namespace tolvex::win32 {

class unique_variant {
 public:
  unique_variant() { VariantInit(&value_); }
  unique_variant(const unique_variant&) = delete;
  unique_variant& operator=(const unique_variant&) = delete;
  ~unique_variant() { VariantClear(&value_); }

  VARIANT* get() { return &value_; }
  const VARIANT* get() const { return &value_; }
  VARIANT* operator->() { return &value_; }
  void reset() { VariantClear(&value_); }

 private:
  VARIANT value_;
};

}  // namespace tolvex::win32
