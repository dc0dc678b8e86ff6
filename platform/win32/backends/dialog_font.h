// The font of the transfer dialog: one that holds the Japanese captions.
#pragma once

#include "com/win32_api.h"

#include "com/unique_handle.h"

namespace tolvex::win32 {

using unique_hfont = unique_handle<HFONT, &DeleteObject>;

// A 9-point Japanese UI face at `dpi`: the usual Windows faces first, then
// any installed face with the Japanese character set that draws Latin
// letters, kana and kanji alike; null when there is none, and the caller
// keeps the system font.
unique_hfont CreateJapaneseDialogFont(int dpi);

}  // namespace tolvex::win32
