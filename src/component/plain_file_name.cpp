#include "component/plain_file_name.h"

#include "component/job_state.h"
#include "component/text.h"

namespace tolvex {
namespace {

char16_t Upper(char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c; }

bool SameLetters(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Upper(a[i]) != Upper(b[i])) return false;
  }
  return true;
}

// "COM1", "com¹", "nul" and the like: the part before the first dot, with
// the spaces before that dot dropped as the system drops them.
bool IsReservedDeviceName(std::u16string_view name) {
  std::u16string_view base = name.substr(0, name.find(u'.'));
  while (!base.empty() && base.back() == u' ') base.remove_suffix(1);
  for (const std::u16string_view device : {u"CON", u"PRN", u"AUX", u"NUL", u"CONIN$", u"CONOUT$"}) {
    if (SameLetters(base, device)) return true;
  }
  if (base.size() != 4) return false;
  const std::u16string_view stem = base.substr(0, 3);
  if (!SameLetters(stem, u"COM") && !SameLetters(stem, u"LPT")) return false;
  const char16_t digit = base[3];
  // The superscript digits count too.
  return (digit >= u'0' && digit <= u'9') || digit == u'\u00B9' || digit == u'\u00B2' ||
         digit == u'\u00B3';
}

}  // namespace

bool IsPlainFileName(const PathStyle& style, std::u16string_view name) {
  if (name.empty() || name == u"." || name == u"..") return false;
  if (name.find_first_of(u"/\\") != std::u16string_view::npos) return false;
  if (name.find(u'\0') != std::u16string_view::npos) return false;
  if (style.separator != u'\\') return true;
  for (const char16_t c : name) {
    if (c < 0x20 || std::u16string_view(u":<>\"|?*").find(c) != std::u16string_view::npos) {
      return false;
    }
  }
  if (name.back() == u'.' || name.back() == u' ') return false;
  return !IsReservedDeviceName(name);
}

std::u16string ReceivedMemberName(std::u16string_view company_code) {
  return TrimTrailingSpaces(company_code) + u".dat";
}

}  // namespace tolvex
