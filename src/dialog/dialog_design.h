// frmTolvex as it is designed: what every load starts from, and the layout
// a windowing back end reproduces (twips, 1440 to the inch).
#pragma once

#include <cstdint>
#include <string_view>

namespace tolvex {

struct TwipsRect {
  int left, top, width, height;
};

inline constexpr std::u16string_view kLabelDesignCaption = u"送受信状態";
inline constexpr std::u16string_view kCancelCaption = u"中止";
inline constexpr std::int32_t kProgressDesignMin = 0;
inline constexpr std::int32_t kProgressDesignMax = 100;

inline constexpr TwipsRect kLabelRect{30, 30, 4875, 255};
inline constexpr TwipsRect kCancelRect{4980, 30, 735, 285};
inline constexpr TwipsRect kArchiveControlRect{1680, 30, 495, 495};
inline constexpr TwipsRect kProgressRect{60, 390, 5685, 255};
inline constexpr int kClientWidthTwips = 5805;
inline constexpr int kClientHeightTwips = 720;

}  // namespace tolvex
