// The font of the transfer dialog: one that holds the Japanese captions.
#pragma once

#include "com/win32_api.h"

#include <utility>

namespace tolvex::win32 {

class unique_hfont {
 public:
  unique_hfont() = default;
  explicit unique_hfont(HFONT owned) : value_(owned) {}
  unique_hfont(const unique_hfont&) = delete;
  unique_hfont& operator=(const unique_hfont&) = delete;
  unique_hfont(unique_hfont&& other) noexcept : value_(std::exchange(other.value_, nullptr)) {}
  unique_hfont& operator=(unique_hfont&& other) noexcept {
    std::swap(value_, other.value_);
    return *this;
  }
  ~unique_hfont() {
    if (value_ != nullptr) DeleteObject(value_);
  }
  HFONT get() const { return value_; }

 private:
  HFONT value_ = nullptr;
};

// A 9-point Japanese UI face at `dpi`: the usual Windows faces first, then
// any installed face with the Japanese character set that draws Latin
// letters, kana and kanji alike; null when there is none, and the caller
// keeps the system font.
unique_hfont CreateJapaneseDialogFont(int dpi);

}  // namespace tolvex::win32
