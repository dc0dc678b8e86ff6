#include "servlets.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <utility>
#include <vector>

#include "archive/archive_errors.h"
#include "archive/archive_input.h"
#include "archive/zip_directory.h"
#include "archive/zip_extract.h"
#include "component/text.h"
#include "header_charset.h"
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

std::optional<Fields> FieldEnds(const std::string& body, Reading reading,
                                HeaderCharset* charset = nullptr) {
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
        const HeaderCharset::Char c = charset->Decode(body, at);
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
  bool Sync() override { return false; }
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
  return ArchiveDefect(file);
}

std::optional<std::string> ArchiveDefect(ReadableFile& file) {
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
    const auto reader = HeaderCharset::Open(charset);
    if (!reader) return std::nullopt;
    fields = FieldEnds(body, Reading::Charset, reader.get());
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
  if (auto refusal = HeaderRefusal(store, body, '3', charset)) {
    return {"9", std::move(*refusal), nullptr};
  }
  const auto header = ParseRequestHeader(body, charset);
  if (auto large = store.LargeOutgoingArchive(header->code, kStreamedFrom)) {
    std::string outcome = "sending " + std::to_string(large->archive_size()) +
                          " archive bytes to " + header->code + ", encoded as sent";
    return {"0", std::move(outcome), std::move(large)};
  }
  const auto archive = store.OutgoingArchive(header->code);
  if (!archive) return {"1", "no data for " + header->code, nullptr};
  Bytes encoded;
  EncodeFormBytes(*archive, encoded);
  std::string reply = "0";
  reply.append(encoded.begin(), encoded.end());
  return {std::move(reply),
          "sent " + std::to_string(archive->size()) + " archive bytes to " + header->code, nullptr};
}

ServletReply PutProgressData(OrderStore& store, const std::string& body,
                             const std::string& charset) {
  if (auto refusal = HeaderRefusal(store, body, '1', charset)) {
    return {"9", std::move(*refusal), nullptr};
  }
  const auto header = ParseRequestHeader(body, charset);
  const Bytes payload(body.begin() + static_cast<std::ptrdiff_t>(header->payload_offset),
                      body.end());
  Bytes archive;
  try {
    DecodeFormBytes(payload, archive);
  } catch (const DecodeError&) {
    return {"9", "undecodable archive from " + header->code, nullptr};
  }
  return StoreProgressArchive(store, header->code, archive);
}

ServletReply StoreProgressArchive(OrderStore& store, const std::string& code,
                                  const Bytes& archive) {
  if (archive.empty()) return {"9", "empty archive from " + code, nullptr};
  if (auto defect = ArchiveDefect(archive)) return {"9", *defect + " from " + code, nullptr};
  const auto stored = store.StoreProgress(code, archive);
  return {"0", "stored " + stored.u8string(), nullptr};
}

BodyIntake::BodyIntake(OrderStore& store, char kind, std::uint64_t max_body,
                       std::uint64_t announced, std::string charset)
    : store_(store),
      kind_(kind),
      max_body_(max_body),
      announced_(announced),
      charset_(std::move(charset)) {}

BodyIntake::~BodyIntake() { DropPartial(); }

void BodyIntake::Take(const char* data, std::size_t size) {
  received_ += size;
  if (TooLarge()) {
    std::string().swap(head_);
    DropPartial();
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
  partial_ = store_.PartialProgress(code_);
  archive_ = StdFileSystem().OpenForWrite(FromUtf8(partial_.string()));
  Decode(head_.data() + header->payload_offset, head_.size() - header->payload_offset);
  head_.resize(header->payload_offset);
  head_.shrink_to_fit();
}

void BodyIntake::Decode(const char* data, std::size_t size) {
  if (undecodable_) return;
  decoded_piece_.clear();
  try {
    decoder_.Decode(reinterpret_cast<const std::uint8_t*>(data), size, decoded_piece_);
  } catch (const DecodeError&) {
    Undecodable();
    return;
  }
  archive_->Write(decoded_piece_.data(), decoded_piece_.size());
  archive_size_ += decoded_piece_.size();
}

void BodyIntake::Undecodable() {
  undecodable_ = true;
  Bytes().swap(decoded_piece_);
  DropPartial();
}

void BodyIntake::DropPartial() {
  archive_.reset();
  if (!partial_.empty()) {
    std::error_code ignored;
    std::filesystem::remove(partial_, ignored);
    partial_.clear();
  }
}

ServletReply BodyIntake::Finish() {
  if (TooLarge()) {
    return {"", "refused: body over the limit of " + std::to_string(max_body_) + " bytes", nullptr};
  }
  if (!judged_) Judge();
  if (refusal_) return {"9", *refusal_, nullptr};
  if (kind_ == '3') return GetSOData(store_, head_, charset_);
  if (!undecodable_) {
    try {
      decoder_.Finish();
    } catch (const DecodeError&) {
      Undecodable();
    }
  }
  if (undecodable_) return {"9", "undecodable archive from " + code_, nullptr};
  archive_->Close();
  archive_.reset();
  if (archive_size_ == 0) {
    DropPartial();
    return {"9", "empty archive from " + code_, nullptr};
  }
  std::optional<std::string> defect;
  {
    const auto file = StdFileSystem().OpenForRead(FromUtf8(partial_.string()));
    defect = ArchiveDefect(*file);
  }
  if (defect) {
    DropPartial();
    return {"9", *defect + " from " + code_, nullptr};
  }
  const auto stored = store_.CommitProgress(code_, partial_);
  partial_.clear();
  return {"0", "stored " + stored.string(), nullptr};
}

}  // namespace tolvex::server
