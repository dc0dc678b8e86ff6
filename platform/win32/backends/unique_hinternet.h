// Owner of one WinINet handle.
#pragma once

#include "com/win32_api.h"

#include <wininet.h>

#include <utility>

namespace tolvex::win32 {

class unique_hinternet {
 public:
  unique_hinternet() = default;
  explicit unique_hinternet(HINTERNET owned) : value_(owned) {}
  unique_hinternet(const unique_hinternet&) = delete;
  unique_hinternet& operator=(const unique_hinternet&) = delete;
  unique_hinternet(unique_hinternet&& other) noexcept : value_(other.release()) {}
  unique_hinternet& operator=(unique_hinternet&& other) noexcept {
    reset(other.release());
    return *this;
  }
  ~unique_hinternet() { reset(); }

  HINTERNET get() const { return value_; }
  HINTERNET release() { return std::exchange(value_, nullptr); }
  void reset(HINTERNET owned = nullptr) {
    if (value_ != nullptr) InternetCloseHandle(value_);
    value_ = owned;
  }

 private:
  HINTERNET value_ = nullptr;
};

}  // namespace tolvex::win32
