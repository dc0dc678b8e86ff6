#include "backends/dialog_font.h"

#include <cwchar>
#include <string>

namespace tolvex::win32 {
namespace {

constexpr const wchar_t* kPreferredFaces[] = {L"MS UI Gothic", L"MS Gothic", L"Meiryo UI",
                                              L"Yu Gothic UI"};

struct FaceSearch {
  const wchar_t* wanted;  // null: any horizontal face
  std::wstring found;
};

int CALLBACK OnFace(const LOGFONTW* font, const TEXTMETRICW*, DWORD, LPARAM param) {
  auto* search = reinterpret_cast<FaceSearch*>(param);
  // "@" faces are the vertical-writing variants.
  if (font->lfFaceName[0] == L'@') return 1;
  if (search->wanted != nullptr && _wcsicmp(font->lfFaceName, search->wanted) != 0) return 1;
  search->found = font->lfFaceName;
  return 0;
}

std::wstring FindFace(HDC dc, const wchar_t* wanted) {
  LOGFONTW query{};
  query.lfCharSet = SHIFTJIS_CHARSET;
  if (wanted != nullptr) wcsncpy(query.lfFaceName, wanted, LF_FACESIZE - 1);
  FaceSearch search{wanted, {}};
  EnumFontFamiliesExW(dc, &query, OnFace, reinterpret_cast<LPARAM>(&search), 0);
  return search.found;
}

}  // namespace

unique_hfont CreateJapaneseDialogFont(int dpi) {
  const HDC screen = GetDC(nullptr);
  std::wstring face;
  for (const wchar_t* preferred : kPreferredFaces) {
    face = FindFace(screen, preferred);
    if (!face.empty()) break;
  }
  if (face.empty()) face = FindFace(screen, nullptr);
  ReleaseDC(nullptr, screen);
  if (face.empty()) return unique_hfont();

  LOGFONTW font{};
  font.lfHeight = -MulDiv(9, dpi, 72);
  font.lfWeight = FW_NORMAL;
  font.lfCharSet = SHIFTJIS_CHARSET;
  font.lfQuality = DEFAULT_QUALITY;
  wcsncpy(font.lfFaceName, face.c_str(), LF_FACESIZE - 1);
  return unique_hfont(CreateFontIndirectW(&font));
}

}  // namespace tolvex::win32
