#include "archive/zip_names.h"

#include <algorithm>
#include <vector>

#include "archive/archive_errors.h"
#include "component/plain_file_name.h"
#include "component/text.h"

namespace tolvex::zip {

namespace {

// Code page 437, bytes 0x80 to 0xFF.
constexpr char16_t kCp437High[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF,
    0x00EE, 0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA,
    0x00F1, 0x00D1, 0x00AA, 0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557,
    0x255D, 0x255C, 0x255B, 0x2510, 0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559,
    0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4, 0x03A6, 0x0398, 0x03A9, 0x03B4,
    0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
};

bool IsValidUtf8(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size()) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    int extra = 0;
    char32_t c = 0;
    if (b0 < 0x80) {
      ++i;
      continue;
    } else if (b0 >= 0xC2 && b0 <= 0xDF) {
      extra = 1, c = b0 & 0x1F;
    } else if ((b0 & 0xF0) == 0xE0) {
      extra = 2, c = b0 & 0x0F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
      extra = 3, c = b0 & 0x07;
    } else {
      return false;
    }
    if (i + extra >= s.size()) return false;
    for (int k = 1; k <= extra; ++k) {
      const auto b = static_cast<unsigned char>(s[i + k]);
      if ((b & 0xC0) != 0x80) return false;
      c = (c << 6) | (b & 0x3F);
    }
    if ((extra == 2 && c < 0x800) || (extra == 3 && (c < 0x10000 || c > 0x10FFFF)) ||
        (c >= 0xD800 && c <= 0xDFFF)) {
      return false;
    }
    i += extra + 1;
  }
  return true;
}

[[noreturn]] void Unsafe(const std::u16string& name) {
  throw ArchiveFailure(ArchiveErrc::kUnsafeName, PrintableName(name));
}

}  // namespace

std::u16string DecodeMemberName(std::string_view raw, bool utf8_flag) {
  if (raw.find('\0') != std::string_view::npos) {
    throw ArchiveFailure(ArchiveErrc::kUnsafeName, PrintableName(FromUtf8(raw)));
  }
  if (IsValidUtf8(raw)) return FromUtf8(raw);
  if (utf8_flag) throw ArchiveFailure(ArchiveErrc::kUnsafeName, PrintableName(FromUtf8(raw)));
  std::u16string name;
  for (char c : raw) {
    const auto b = static_cast<unsigned char>(c);
    name += b < 0x80 ? static_cast<char16_t>(b) : kCp437High[b - 0x80];
  }
  return name;
}

bool IsDirectoryName(const std::u16string& name) { return !name.empty() && name.back() == u'/'; }

void CheckMemberName(const std::u16string& name) {
  if (name.empty() || name.front() == u'/') Unsafe(name);
  std::u16string_view path(name);
  if (IsDirectoryName(name)) path.remove_suffix(1);
  std::size_t start = 0;
  while (true) {
    const auto end = std::min(path.find(u'/', start), path.size());
    const auto component = path.substr(start, end - start);
    // Windows' rules on every platform, so a name means the same file
    // everywhere; DEL is refused too, as no user types it.
    if (!IsPlainFileName(kWindowsPathStyle, component)) Unsafe(name);
    if (component.find(u'\x7F') != std::u16string_view::npos) Unsafe(name);
    if (end == path.size()) break;
    start = end + 1;
  }
}

std::u16string NameKey(std::u16string_view name) {
  if (!name.empty() && name.back() == u'/') name.remove_suffix(1);
  std::u16string key(name);
  for (auto& c : key) {
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
  }
  return key;
}

std::u16string BareName(const std::u16string& path, const PathStyle& style) {
  const auto cut = path.find_last_of(std::u16string{u'/', style.separator});
  return cut == std::u16string::npos ? path : path.substr(cut + 1);
}

std::u16string PrintableName(std::u16string_view name) {
  std::u16string printable(name);
  for (auto& c : printable) {
    if (c < 0x20 || c == 0x7F) c = u'?';
  }
  return printable;
}

}  // namespace tolvex::zip
