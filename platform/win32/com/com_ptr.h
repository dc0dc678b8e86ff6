// Owner of one COM interface reference.
#pragma once

#include "com/win32_api.h"

#include <unknwn.h>

#include <utility>

namespace tolvex::win32 {

template <class Interface>
class com_ptr {
 public:
  com_ptr() = default;
  com_ptr(const com_ptr& other) : value_(other.value_) {
    if (value_ != nullptr) value_->AddRef();
  }
  com_ptr(com_ptr&& other) noexcept : value_(std::exchange(other.value_, nullptr)) {}
  com_ptr& operator=(com_ptr other) noexcept {
    std::swap(value_, other.value_);
    return *this;
  }
  ~com_ptr() { reset(); }

  Interface* get() const { return value_; }
  Interface* operator->() const { return value_; }
  explicit operator bool() const { return value_ != nullptr; }

  // For APIs that hand out a new reference through an out parameter.
  Interface** put() {
    reset();
    return &value_;
  }
  void** put_void() { return reinterpret_cast<void**>(put()); }

  void reset() {
    if (value_ != nullptr) std::exchange(value_, nullptr)->Release();
  }

 private:
  Interface* value_ = nullptr;
};

}  // namespace tolvex::win32
