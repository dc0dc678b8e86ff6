// Owner of one Windows handle: closed with `Close` when the owner goes,
// unless it is `Invalid`. The owners of kernel objects, WinINet handles,
// BSTRs, fonts and registry keys are this one template.
#pragma once

#include <utility>

namespace tolvex::win32 {

template <typename T, auto Close, T Invalid = nullptr>
class unique_handle {
 public:
  unique_handle() = default;
  explicit unique_handle(T owned) : value_(owned) {}
  unique_handle(const unique_handle&) = delete;
  unique_handle& operator=(const unique_handle&) = delete;
  unique_handle(unique_handle&& other) noexcept : value_(other.release()) {}
  unique_handle& operator=(unique_handle&& other) noexcept {
    reset(other.release());
    return *this;
  }
  ~unique_handle() { reset(); }

  T get() const { return value_; }
  // For APIs that write a new handle through a T*; closes the old one.
  T* put() {
    reset();
    return &value_;
  }
  // For by-reference arguments that the callee may replace: the handle
  // then held is the one closed.
  T* address() { return &value_; }
  T release() { return std::exchange(value_, Invalid); }
  void reset(T owned = Invalid) {
    if (value_ != Invalid && value_ != owned) Close(value_);
    value_ = owned;
  }

 private:
  T value_ = Invalid;
};

}  // namespace tolvex::win32
