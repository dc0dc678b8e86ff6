// DecodeFormBytes on arbitrary bodies: it either fails with DecodeError
// (keeping only what it decoded so far) or returns bytes that encode and
// decode back to themselves; and any bytes survive an encode/decode trip.
// The stream decoder fails and keeps exactly alike for every split of the
// body in two and for pieces of sizes taken from the body itself. The
// encoded length counted without encoding is the encoded length.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "net/form_codec.h"
#include "net/form_stream.h"

namespace {

// What the stream decoder hands out over pieces ending at `cuts`, and
// whether it got through.
bool DecodeInPieces(const tolvex::Bytes& source, const std::vector<std::size_t>& cuts,
                    tolvex::Bytes& out, tolvex::DecodeErrorKind& kind) {
  tolvex::FormDecoder decoder;
  std::size_t from = 0;
  for (std::size_t i = 0; i <= cuts.size(); ++i) {
    const std::size_t to = i < cuts.size() ? cuts[i] : source.size();
    try {
      decoder.Decode(source.data() + from, to - from, out);
    } catch (const tolvex::DecodeError& e) {
      kind = e.kind;
      return false;
    }
    from = to;
  }
  try {
    decoder.Finish();
  } catch (const tolvex::DecodeError& e) {
    kind = e.kind;
    return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const tolvex::Bytes source(data, data + size);
  tolvex::Bytes decoded;
  bool complete = true;
  tolvex::DecodeErrorKind kind{};
  try {
    tolvex::DecodeFormBytes(source, decoded);
  } catch (const tolvex::DecodeError& e) {
    complete = false;
    kind = e.kind;
  }
  const auto agrees = [&](const std::vector<std::size_t>& cuts) {
    tolvex::Bytes out;
    tolvex::DecodeErrorKind streamed_kind{};
    const bool streamed = DecodeInPieces(source, cuts, out, streamed_kind);
    return streamed == complete && out == decoded && (complete || streamed_kind == kind);
  };
  // Every split in two of a body of a size to try them all.
  if (size <= 512) {
    for (std::size_t cut = 0; cut <= size; ++cut) {
      if (!agrees({cut})) std::abort();
    }
  }
  // Pieces of 1 to 16 bytes, their sizes read from the body.
  std::vector<std::size_t> cuts;
  for (std::size_t at = 0, i = 0; i < size;) {
    at += 1 + (data[i] & 15);
    if (at >= size) break;
    cuts.push_back(at);
    i = at;
  }
  if (!agrees(cuts)) std::abort();
  if (decoded.size() > source.size()) std::abort();
  if (complete) {
    tolvex::Bytes encoded;
    tolvex::Bytes again;
    tolvex::EncodeFormBytes(decoded, encoded);
    tolvex::DecodeFormBytes(encoded, again);
    if (again != decoded) std::abort();
  }
  tolvex::Bytes encoded;
  tolvex::Bytes back;
  tolvex::EncodeFormBytes(source, encoded);
  if (tolvex::FormEncodedSize(source.data(), source.size()) != encoded.size()) std::abort();
  tolvex::DecodeFormBytes(encoded, back);
  if (back != source) std::abort();
  return 0;
}
