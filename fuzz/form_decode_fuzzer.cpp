// DecodeFormBytes on arbitrary bodies: it either fails with DecodeError
// (keeping only what it decoded so far) or returns bytes that encode and
// decode back to themselves; and any bytes survive an encode/decode trip.
// Decoding in place behind a status byte fails and keeps exactly alike.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "net/form_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const tolvex::Bytes source(data, data + size);
  tolvex::Bytes decoded;
  bool complete = true;
  try {
    tolvex::DecodeFormBytes(source, decoded);
  } catch (const tolvex::DecodeError&) {
    complete = false;
  }
  if (decoded.size() > source.size()) std::abort();
  tolvex::Bytes reply(1, '0');
  reply.insert(reply.end(), source.begin(), source.end());
  bool complete_in_place = true;
  try {
    tolvex::DecodeFormBytesInPlace(reply, 1);
  } catch (const tolvex::DecodeError&) {
    complete_in_place = false;
  }
  if (complete_in_place != complete || reply != decoded) std::abort();
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
  tolvex::DecodeFormBytes(encoded, back);
  if (back != source) std::abort();
  return 0;
}
