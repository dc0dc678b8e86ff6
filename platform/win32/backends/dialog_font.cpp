#include "backends/dialog_font.h"

#include <algorithm>
#include <cwchar>
#include <iterator>
#include <string>
#include <vector>

namespace tolvex::win32 {
namespace {

constexpr const wchar_t* kPreferredFaces[] = {L"MS UI Gothic", L"MS Gothic", L"Meiryo UI",
                                              L"Yu Gothic UI"};
// What the label shows: URLs and host names, the connection notice, kana
// (half-width too) and kanji. Some Japanese faces carry the kanji only.
constexpr wchar_t kLabelSample[] = L"Aa0.:/ｱﾎﾟしへ中止受信";

struct FaceSearch {
  const wchar_t* wanted;  // null: every horizontal face
  std::vector<std::wstring> found;
};

int CALLBACK OnFace(const LOGFONTW* font, const TEXTMETRICW*, DWORD, LPARAM param) {
  auto* search = reinterpret_cast<FaceSearch*>(param);
  // "@" faces are the vertical-writing variants.
  if (font->lfFaceName[0] == L'@') return 1;
  if (search->wanted != nullptr && _wcsicmp(font->lfFaceName, search->wanted) != 0) return 1;
  try {
    search->found.emplace_back(font->lfFaceName);
  } catch (...) {
    // Nothing may unwind through GDI: the faces found so far serve.
    return 0;
  }
  return search->wanted == nullptr ? 1 : 0;
}

std::vector<std::wstring> FindFaces(HDC dc, const wchar_t* wanted) {
  LOGFONTW query{};
  query.lfCharSet = SHIFTJIS_CHARSET;
  if (wanted != nullptr) wcsncpy(query.lfFaceName, wanted, LF_FACESIZE - 1);
  FaceSearch search{wanted, {}};
  EnumFontFamiliesExW(dc, &query, OnFace, reinterpret_cast<LPARAM>(&search), 0);
  return search.found;
}

unique_hfont CreateFace(const std::wstring& face, int dpi) {
  LOGFONTW font{};
  font.lfHeight = -MulDiv(9, dpi, 72);
  font.lfWeight = FW_NORMAL;
  font.lfCharSet = SHIFTJIS_CHARSET;
  font.lfQuality = DEFAULT_QUALITY;
  wcsncpy(font.lfFaceName, face.c_str(), LF_FACESIZE - 1);
  return unique_hfont(CreateFontIndirectW(&font));
}

bool DrawsLabelSample(HDC dc, HFONT font) {
  constexpr int kLength = static_cast<int>(std::size(kLabelSample)) - 1;
  WORD glyphs[kLength] = {};
  const HGDIOBJ previous = SelectObject(dc, font);
  const DWORD mapped =
      GetGlyphIndicesW(dc, kLabelSample, kLength, glyphs, GGI_MARK_NONEXISTING_GLYPHS);
  SelectObject(dc, previous);
  return mapped == static_cast<DWORD>(kLength) &&
         std::find(std::begin(glyphs), std::end(glyphs), 0xFFFF) == std::end(glyphs);
}

}  // namespace

unique_hfont CreateJapaneseDialogFont(int dpi) {
  const HDC screen = GetDC(nullptr);
  unique_hfont chosen;
  for (const wchar_t* preferred : kPreferredFaces) {
    const std::vector<std::wstring> faces = FindFaces(screen, preferred);
    if (!faces.empty()) {
      chosen = CreateFace(faces.front(), dpi);
      break;
    }
  }
  if (chosen.get() == nullptr) {
    for (const std::wstring& face : FindFaces(screen, nullptr)) {
      unique_hfont candidate = CreateFace(face, dpi);
      if (candidate.get() != nullptr && DrawsLabelSample(screen, candidate.get())) {
        chosen = std::move(candidate);
        break;
      }
    }
  }
  ReleaseDC(nullptr, screen);
  return chosen;
}

}  // namespace tolvex::win32
