#include "servlets.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <type_traits>
#include <utility>
#include <vector>

#include "archive/archive_errors.h"
#include "archive/archive_input.h"
#include "archive/zip_directory.h"
#include "archive/zip_extract.h"
#include "component/text.h"
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

std::string Printable(const std::string& s) {
  std::string out;
  for (const char c : s) {
    const auto u = static_cast<unsigned char>(c);
    if (u >= 0x20 && u != 0x7F) {
      out += c;
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", u);
      out += escaped;
    }
  }
  return out;
}

class MemoryFile : public ReadableFile {
 public:
  explicit MemoryFile(const Bytes& bytes) : bytes_(bytes) {}
  std::size_t Read(std::uint8_t* data, std::size_t size) override {
    const std::size_t n = std::min(size, bytes_.size() - position_);
    std::copy_n(bytes_.data() + position_, n, data);
    position_ += n;
    return n;
  }
  void Seek(std::uint64_t offset) override {
    position_ = static_cast<std::size_t>(std::min<std::uint64_t>(offset, bytes_.size()));
  }
  std::uint64_t Size() override { return bytes_.size(); }

 private:
  const Bytes& bytes_;
  std::size_t position_ = 0;
};

// Extraction only to check the data against the directory.
class DiscardingFile : public WritableFile {
 public:
  void Write(const std::uint8_t*, std::size_t) override {}
  void Close() override {}
};

}  // namespace

std::optional<std::string> HeaderRefusal(OrderStore& store, const std::string& body, char kind,
                                         const std::string& charset) {
  const auto header = ParseRequestHeader(body, charset);
  if (!header) {
    // Padded, a header cut short between characters reads; one holding a byte
    // sequence the charset lacks still does not.
    if (!charset.empty() &&
        !ParseRequestHeader(body.substr(0, kHeaderMaxBytes) + std::string(kHeaderMaxBytes, ' '),
                            charset)) {
      return "header not in " + charset + " (" + std::to_string(body.size()) + " bytes)";
    }
    return "short header (" + std::to_string(body.size()) + " bytes)";
  }
  if (header->kind != kind) return "bad kind '" + Printable(std::string(1, header->kind)) + "'";
  if (!IsSafeCompanyCode(header->code)) return "unusable company code " + Printable(header->code);
  switch (store.CheckAccess(header->code, header->key)) {
    case OrderStore::Access::kGranted:
      return std::nullopt;
    case OrderStore::Access::kUnknownCompany:
      return "unknown company " + Printable(header->code);
    case OrderStore::Access::kWrongKey:
      break;
  }
  return "wrong key for " + Printable(header->code);
}

std::optional<std::string> ArchiveDefect(const Bytes& archive) {
  MemoryFile file(archive);
  try {
    zip::ArchiveInput input(file, u"received archive");
    std::size_t files = 0;
    for (const auto& member : zip::ReadZipDirectory(input)) {
      if (member.is_directory) continue;
      DiscardingFile out;
      zip::ExtractMember(input, member, out);
      ++files;
    }
    if (files == 0) return "an archive without a file";
  } catch (const ArchiveFailure& failure) {
    return "an unsound archive (" + ToUtf8(ArchiveErrorCause(failure.code())) + ")";
  }
  return std::nullopt;
}

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
  if (auto refusal = HeaderRefusal(store, body, '3', charset)) return {"9", std::move(*refusal)};
  const auto header = ParseRequestHeader(body, charset);
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
  if (auto refusal = HeaderRefusal(store, body, '1', charset)) return {"9", std::move(*refusal)};
  const auto header = ParseRequestHeader(body, charset);
  const Bytes payload(body.begin() + static_cast<std::ptrdiff_t>(header->payload_offset),
                      body.end());
  Bytes archive;
  try {
    DecodeFormBytes(payload, archive);
  } catch (const DecodeError&) {
    return {"9", "undecodable archive from " + header->code};
  }
  return StoreProgressArchive(store, header->code, archive);
}

ServletReply StoreProgressArchive(OrderStore& store, const std::string& code,
                                  const Bytes& archive) {
  if (archive.empty()) return {"9", "empty archive from " + code};
  if (auto defect = ArchiveDefect(archive)) return {"9", *defect + " from " + code};
  const auto stored = store.StoreProgress(code, archive);
  return {"0", "stored " + stored.string()};
}

BodyIntake::BodyIntake(OrderStore& store, char kind, std::uint64_t max_body,
                       std::uint64_t announced, std::string charset)
    : store_(store),
      kind_(kind),
      max_body_(max_body),
      announced_(announced),
      charset_(std::move(charset)) {}

void BodyIntake::Take(const char* data, std::size_t size) {
  received_ += size;
  if (TooLarge()) {
    std::string().swap(head_);
    Bytes().swap(archive_);
    return;
  }
  if (!judged_) {
    head_.append(data, size);
    if (head_.size() >= kHeaderMaxBytes) Judge();
  } else if (!refusal_ && kind_ == '1') {
    Decode(data, size);
  }
}

void BodyIntake::Judge() {
  judged_ = true;
  refusal_ = HeaderRefusal(store_, head_, kind_, charset_);
  if (refusal_) {
    std::string().swap(head_);
    return;
  }
  const auto header = ParseRequestHeader(head_, charset_);
  code_ = header->code;
  if (kind_ != '1') return;
  // Sized once: the archive is never longer than the body announced, and
  // the body never longer than the limit.
  archive_.reserve(static_cast<std::size_t>(std::min(announced_, max_body_)));
  Decode(head_.data() + header->payload_offset, head_.size() - header->payload_offset);
  head_.resize(header->payload_offset);
  head_.shrink_to_fit();
}

void BodyIntake::Decode(const char* data, std::size_t size) {
  if (undecodable_) return;
  piece_.assign(carry_.begin(), carry_.end());
  piece_.insert(piece_.end(), data, data + size);
  // Where the last escape starts when the piece ends inside it.
  std::size_t complete = piece_.size();
  for (std::size_t i = 0; i < piece_.size(); ++i) {
    if (piece_[i] != '%') continue;
    if (i + 2 >= piece_.size()) {
      complete = i;
      break;
    }
    i += 2;
  }
  carry_.assign(piece_.begin() + static_cast<std::ptrdiff_t>(complete), piece_.end());
  piece_.resize(complete);
  try {
    DecodeFormBytes(piece_, decoded_piece_);
  } catch (const DecodeError&) {
    Undecodable();
    return;
  }
  archive_.insert(archive_.end(), decoded_piece_.begin(), decoded_piece_.end());
}

void BodyIntake::Undecodable() {
  undecodable_ = true;
  for (Bytes* buffer : {&archive_, &carry_, &piece_, &decoded_piece_}) Bytes().swap(*buffer);
}

ServletReply BodyIntake::Finish() {
  if (TooLarge()) {
    return {"", "refused: body over the limit of " + std::to_string(max_body_) + " bytes"};
  }
  if (!judged_) Judge();
  if (refusal_) return {"9", *refusal_};
  if (kind_ == '3') return GetSOData(store_, head_, charset_);
  if (!carry_.empty()) Undecodable();
  if (undecodable_) return {"9", "undecodable archive from " + code_};
  return StoreProgressArchive(store_, code_, archive_);
}

}  // namespace tolvex::server
