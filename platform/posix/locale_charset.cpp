#include "locale_charset.h"

#include <iconv.h>
#include <langinfo.h>

#include <strings.h>
#include <cerrno>

#include <algorithm>
#include <cstring>
#include <memory>

#include "component/text.h"

namespace tolvex::posix {
namespace {

struct IconvCloser {
  void operator()(void* cd) const { iconv_close(static_cast<iconv_t>(cd)); }
};
using UniqueIconv = std::unique_ptr<void, IconvCloser>;

bool IsUtf8(const char* codeset) {
  return strcasecmp(codeset, "UTF-8") == 0 || strcasecmp(codeset, "UTF8") == 0;
}

// Length of the UTF-8 sequence that starts with `lead` (1 for a stray byte).
std::size_t SequenceLength(unsigned char lead) {
  if (lead >= 0xF0) return 4;
  if (lead >= 0xE0) return 3;
  if (lead >= 0xC0) return 2;
  return 1;
}

}  // namespace

std::string ToLocaleCharset(std::u16string_view text) {
  std::string utf8 = ToUtf8(text);
  const char* codeset = nl_langinfo(CODESET);
  if (codeset == nullptr || *codeset == '\0' || IsUtf8(codeset)) return utf8;

  iconv_t raw = iconv_open(codeset, "UTF-8");
  if (raw == reinterpret_cast<iconv_t>(-1)) return utf8;
  UniqueIconv cd(raw);

  std::string out(utf8.size() + 16, '\0');
  char* in = utf8.data();
  std::size_t in_left = utf8.size();
  std::size_t written = 0;
  while (in_left > 0) {
    char* dst = out.data() + written;
    std::size_t out_left = out.size() - written;
    const std::size_t rc = iconv(static_cast<iconv_t>(cd.get()), &in, &in_left, &dst, &out_left);
    written = out.size() - out_left;
    if (rc != static_cast<std::size_t>(-1)) break;
    if (errno == E2BIG) {
      out.resize(out.size() * 2);
      continue;
    }
    // EILSEQ or a cut sequence: the character has no form in this charset.
    const std::size_t skip = std::min(SequenceLength(static_cast<unsigned char>(*in)), in_left);
    in += skip;
    in_left -= skip;
    if (written == out.size()) out.resize(out.size() * 2);
    out[written++] = '?';
  }
  // A stateful charset (ISO-2022-JP, say) may need its shift state closed.
  for (;;) {
    char* dst = out.data() + written;
    std::size_t out_left = out.size() - written;
    const std::size_t rc = iconv(static_cast<iconv_t>(cd.get()), nullptr, nullptr, &dst, &out_left);
    written = out.size() - out_left;
    if (rc != static_cast<std::size_t>(-1) || errno != E2BIG) break;
    out.resize(out.size() * 2);
  }
  out.resize(written);
  return out;
}

}  // namespace tolvex::posix
