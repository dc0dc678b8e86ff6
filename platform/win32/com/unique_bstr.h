// Owner of one BSTR.
#pragma once

#include "com/win32_api.h"

#include <oleauto.h>

#include <new>
#include <string_view>
#include <utility>

namespace tolvex::win32 {

class unique_bstr {
 public:
  unique_bstr() = default;
  explicit unique_bstr(BSTR owned) : value_(owned) {}
  unique_bstr(const unique_bstr&) = delete;
  unique_bstr& operator=(const unique_bstr&) = delete;
  unique_bstr(unique_bstr&& other) noexcept : value_(other.release()) {}
  unique_bstr& operator=(unique_bstr&& other) noexcept {
    reset(other.release());
    return *this;
  }
  ~unique_bstr() { reset(); }

  // Throws std::bad_alloc when the system cannot allocate the string.
  static unique_bstr From(std::u16string_view text) {
    BSTR b = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.data()),
                               static_cast<UINT>(text.size()));
    if (b == nullptr) throw std::bad_alloc();
    return unique_bstr(b);
  }

  BSTR get() const { return value_; }
  // For APIs that write a new string through a BSTR*; frees the old one.
  BSTR* put() {
    reset();
    return &value_;
  }
  // For by-reference arguments that the callee may replace.
  BSTR* address() { return &value_; }
  BSTR release() { return std::exchange(value_, nullptr); }
  void reset(BSTR owned = nullptr) {
    if (value_ != nullptr && value_ != owned) SysFreeString(value_);
    value_ = owned;
  }

 private:
  BSTR value_ = nullptr;
};

}  // namespace tolvex::win32
