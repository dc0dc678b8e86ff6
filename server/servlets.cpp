#include "servlets.h"

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

// Byte offsets where each of the header's fields ends, counted in
// characters; nothing when the body ends first.
std::optional<std::vector<std::size_t>> FieldEnds(const std::string& body, bool utf8) {
  const std::size_t widths[] = {1, kCompanyCodeWidth, kAccessKeyWidth};
  std::vector<std::size_t> ends;
  std::size_t at = 0;
  for (const std::size_t width : widths) {
    std::size_t units = 0;
    while (units < width) {
      if (at >= body.size()) return std::nullopt;
      if (!utf8) {
        ++at;
        ++units;
        continue;
      }
      const auto [bytes, count] = Utf8Char(body, at);
      if (bytes == 0) return std::nullopt;
      at += bytes;
      units += count;
    }
    ends.push_back(at);
  }
  return ends;
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

std::optional<RequestHeader> ParseRequestHeader(const std::string& body) {
  auto ends = FieldEnds(body, true);
  if (!ends) ends = FieldEnds(body, false);
  if (!ends) return std::nullopt;
  const auto& e = *ends;
  RequestHeader header;
  header.kind = body[0];
  header.code = TrimRight(body.substr(e[0], e[1] - e[0]));
  header.key = TrimRight(body.substr(e[1], e[2] - e[1]));
  header.payload_offset = e[2];
  return header;
}

ServletReply GetSOData(OrderStore& store, const std::string& body) {
  const auto header = ParseRequestHeader(body);
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

ServletReply PutProgressData(OrderStore& store, const std::string& body) {
  const auto header = ParseRequestHeader(body);
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
