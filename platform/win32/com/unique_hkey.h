// Owner of one open registry key.
#pragma once

#include "com/win32_api.h"

namespace tolvex::win32 {

class unique_hkey {
 public:
  unique_hkey() = default;
  unique_hkey(const unique_hkey&) = delete;
  unique_hkey& operator=(const unique_hkey&) = delete;
  ~unique_hkey() {
    if (key_ != nullptr) RegCloseKey(key_);
  }
  HKEY get() const { return key_; }
  HKEY* put() { return &key_; }

 private:
  HKEY key_ = nullptr;
};

}  // namespace tolvex::win32
