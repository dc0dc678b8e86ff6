#include "dialog/transfer_buffers.h"

#include <algorithm>
#include <limits>
#include <utility>

#include "net/form_codec.h"
#include "net/servlet_protocol.h"

namespace tolvex {

Bytes RequestHeaderBody(HttpSession& http, const TransferJob& job) {
  const std::string header = http.WireText(BuildRequestHeader(job));
  return Bytes(header.begin(), header.end());
}

Bytes SendBodyFromArchive(HttpSession& http, const TransferJob& job, FileSystem& files,
                          const std::u16string& archive_path) {
  // Large enough to keep the encoder busy, small beside the body.
  constexpr std::size_t kPiece = 1 << 20;
  const auto file = files.OpenForRead(archive_path);
  const std::uint64_t size = file->Size();
  if (size == 0) throw FileError("the archive is empty");
  Bytes body = RequestHeaderBody(http, job);
  if (size > (std::numeric_limits<std::size_t>::max() - body.size() - 1) / 3) {
    throw FileError("the archive is too large to send");
  }
  // Reserved, not filled: pages the encoding does not reach are never
  // touched, so the body costs what it encodes to, not its bound.
  body.reserve(body.size() + static_cast<std::size_t>(size) * 3 + 1);
  Bytes piece(static_cast<std::size_t>(std::min<std::uint64_t>(size, kPiece)));
  std::uint64_t left = size;
  while (left > 0) {
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(left, piece.size()));
    const std::size_t got = file->Read(piece.data(), want);
    if (got == 0) throw FileError("short read");
    AppendFormEncoded(piece.data(), got, body);
    left -= got;
  }
  return body;
}

Bytes TakeDecodedPayload(Bytes& reply) {
  Bytes archive = std::move(reply);
  reply = Bytes();
  DecodeFormBytesInPlace(archive, 1);
  return archive;
}

}  // namespace tolvex
