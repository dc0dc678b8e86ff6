#include "servlets.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <type_traits>
#include <vector>

#include "net/form_codec.h"
#include "net/servlet_protocol.h"

namespace tolvex::server {
namespace {

// Byte length of the UTF-8 sequence at `at` and the UTF-16 units it
// stands for; {0, 0} when it is not a valid sequence.
std::pair<std::size_t, std::size_t> Utf8Char(const std::string& s, std::size_t at) {
  const auto lead = static_cast<unsigned char>(s[at]);
  std::size_t length = lead < 0x80                   ? 1
                       : lead >= 0xF0 && lead < 0xF5 ? 4
                       : lead >= 0xE0                ? 3
                       : lead >= 0xC2 && lead < 0xE0 ? 2
                                                     : 0;
  if (length == 0 || at + length > s.size()) return {0, 0};
  for (std::size_t i = 1; i < length; ++i) {
    if ((static_cast<unsigned char>(s[at + i]) & 0xC0) != 0x80) return {0, 0};
  }
  return {length, length == 4 ? 2 : 1};
}

struct IconvCloser {
  void operator()(iconv_t cd) const { iconv_close(cd); }
};
using UniqueIconv = std::unique_ptr<std::remove_pointer_t<iconv_t>, IconvCloser>;

UniqueIconv OpenToUtf8(const std::string& charset) {
  const iconv_t cd = iconv_open("UTF-8", charset.c_str());
  return UniqueIconv(cd == reinterpret_cast<iconv_t>(-1) ? nullptr : cd);
}

// One character of a header in another charset, turned into UTF-8.
struct Decoded {
  std::size_t bytes = 0;  // 0: no character of the charset starts here
  std::string utf8;
};

// Tries ever longer byte runs until one converts whole: a character of a
// multi-byte charset such as CP932 is one or two bytes.
Decoded DecodeChar(iconv_t cd, const std::string& s, std::size_t at) {
  constexpr std::size_t kLongestChar = 4;
  for (std::size_t length = 1; length <= kLongestChar && at + length <= s.size(); ++length) {
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char* in = const_cast<char*>(s.data() + at);
    std::size_t in_left = length;
    char out[16];
    char* out_at = out;
    std::size_t out_left = sizeof out;
    if (iconv(cd, &in, &in_left, &out_at, &out_left) != static_cast<std::size_t>(-1) &&
        in_left == 0) {
      return {length, std::string(out, out_at)};
    }
    if (errno != EINVAL) break;  // not merely cut short
  }
  return {};
}

// UTF-16 units of a UTF-8 text.
std::size_t Utf16Units(const std::string& utf8) {
  std::size_t units = 0;
  for (const char c : utf8) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte & 0xC0) != 0x80) units += byte >= 0xF0 ? 2 : 1;
  }
  return units;
}

enum class Reading { Utf8, Bytes, Charset };

// Byte offsets where each of the header's fields ends, counted in
// characters, and the fields in UTF-8 when read in a charset; nothing
// when the body ends first or holds no character there.
struct Fields {
  std::vector<std::size_t> ends;
  std::vector<std::string> utf8;
};

std::optional<Fields> FieldEnds(const std::string& body, Reading reading, iconv_t cd = nullptr) {
  const std::size_t widths[] = {1, kCompanyCodeWidth, kAccessKeyWidth};
  Fields fields;
  std::size_t at = 0;
  for (const std::size_t width : widths) {
    std::size_t units = 0;
    std::string text;
    while (units < width) {
      if (at >= body.size()) return std::nullopt;
      if (reading == Reading::Bytes) {
        ++at;
        ++units;
      } else if (reading == Reading::Utf8) {
        const auto [bytes, count] = Utf8Char(body, at);
        if (bytes == 0) return std::nullopt;
        at += bytes;
        units += count;
      } else {
        const Decoded c = DecodeChar(cd, body, at);
        if (c.bytes == 0) return std::nullopt;
        at += c.bytes;
        units += std::max<std::size_t>(1, Utf16Units(c.utf8));
        text += c.utf8;
      }
    }
    fields.ends.push_back(at);
    fields.utf8.push_back(std::move(text));
  }
  return fields;
}

std::string TrimRight(std::string s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

bool Acceptable(OrderStore& store, const std::optional<RequestHeader>& header, char kind) {
  return header && header->kind == kind && IsSafeCompanyCode(header->code) &&
         store.Authorised(header->code, header->key);
}

}  // namespace

std::optional<RequestHeader> ParseRequestHeader(const std::string& body,
                                                const std::string& charset) {
  std::optional<Fields> fields;
  if (charset.empty()) {
    fields = FieldEnds(body, Reading::Utf8);
    if (!fields) fields = FieldEnds(body, Reading::Bytes);
  } else {
    const UniqueIconv cd = OpenToUtf8(charset);
    if (!cd) return std::nullopt;
    fields = FieldEnds(body, Reading::Charset, cd.get());
  }
  if (!fields) return std::nullopt;
  const auto& e = fields->ends;
  RequestHeader header;
  header.kind = body[0];
  header.code = TrimRight(charset.empty() ? body.substr(e[0], e[1] - e[0]) : fields->utf8[1]);
  header.key = TrimRight(charset.empty() ? body.substr(e[1], e[2] - e[1]) : fields->utf8[2]);
  header.payload_offset = e[2];
  return header;
}

ServletReply GetSOData(OrderStore& store, const std::string& body, const std::string& charset) {
  const auto header = ParseRequestHeader(body, charset);
  if (!Acceptable(store, header, '3')) return {"9", "rejected"};
  const auto archive = store.OutgoingArchive(header->code);
  if (!archive) return {"1", "no data for " + header->code};
  Bytes encoded;
  EncodeFormBytes(*archive, encoded);
  std::string reply = "0";
  reply.append(encoded.begin(), encoded.end());
  return {std::move(reply),
          "sent " + std::to_string(archive->size()) + " archive bytes to " + header->code};
}

ServletReply PutProgressData(OrderStore& store, const std::string& body,
                             const std::string& charset) {
  const auto header = ParseRequestHeader(body, charset);
  if (!Acceptable(store, header, '1')) return {"9", "rejected"};
  const Bytes payload(body.begin() + static_cast<std::ptrdiff_t>(header->payload_offset),
                      body.end());
  Bytes archive;
  try {
    DecodeFormBytes(payload, archive);
  } catch (const DecodeError&) {
    return {"9", "undecodable archive from " + header->code};
  }
  if (archive.empty()) return {"9", "empty archive from " + header->code};
  const auto stored = store.StoreProgress(header->code, archive);
  return {"0", "stored " + stored.string()};
}

}  // namespace tolvex::server
