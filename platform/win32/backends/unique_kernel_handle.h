// Owner of one kernel object handle (event, thread, file).
#pragma once

#include "com/win32_api.h"

#include <utility>

namespace tolvex::win32 {

class unique_kernel_handle {
 public:
  unique_kernel_handle() = default;
  explicit unique_kernel_handle(HANDLE owned) : value_(owned) {}
  unique_kernel_handle(const unique_kernel_handle&) = delete;
  unique_kernel_handle& operator=(const unique_kernel_handle&) = delete;
  unique_kernel_handle(unique_kernel_handle&& other) noexcept : value_(other.release()) {}
  unique_kernel_handle& operator=(unique_kernel_handle&& other) noexcept {
    reset(other.release());
    return *this;
  }
  ~unique_kernel_handle() { reset(); }

  HANDLE get() const { return value_; }
  HANDLE release() { return std::exchange(value_, nullptr); }
  void reset(HANDLE owned = nullptr) {
    if (value_ != nullptr) CloseHandle(value_);
    value_ = owned;
  }

 private:
  HANDLE value_ = nullptr;
};

}  // namespace tolvex::win32
