#include "net/form_stream.h"

#include <algorithm>

namespace tolvex {
namespace {

// Large enough to keep the encoder and the connection busy, small beside
// any limit on memory.
constexpr std::size_t kPiece = 256 * 1024;

std::size_t PieceOf(std::uint64_t left) {
  return static_cast<std::size_t>(std::min<std::uint64_t>(left, kPiece));
}

// Where the whole-buffer decoder may stop: a position that no escape
// reaches across, since neither of the two bytes before it is a '%'.
std::size_t CleanEnd(const std::uint8_t* piece, std::size_t n) {
  std::size_t end = n;
  while (end > 0 && (piece[end - 1] == '%' || (end > 1 && piece[end - 2] == '%'))) --end;
  return end;
}

}  // namespace

std::size_t FormDecoder::CompleteWaiting(const std::uint8_t* piece, std::size_t n, Bytes& decoded) {
  std::size_t taken = 0;
  while (carried_ < 3 && taken < n) {
    const std::uint8_t digit = piece[taken++];
    // Each digit is judged as soon as it is there, as the whole-buffer walk
    // judges the first before it looks for the second.
    if (FormEscapeDigitValue(digit) < 0) throw DecodeError(DecodeErrorKind::Overflow);
    carry_[carried_++] = digit;
  }
  if (carried_ == 3) {
    decoded.push_back(static_cast<std::uint8_t>(FormEscapeDigitValue(carry_[1]) * 16 +
                                                FormEscapeDigitValue(carry_[2])));
    carried_ = 0;
  }
  return taken;
}

void FormDecoder::Decode(const std::uint8_t* piece, std::size_t n, Bytes& decoded) {
  std::size_t at = 0;
  if (carried_ > 0) {
    at = CompleteWaiting(piece, n, decoded);
    if (carried_ > 0) return;
  }
  const std::uint8_t* const rest = piece + at;
  const std::size_t rest_size = n - at;
  const std::size_t clean = CleanEnd(rest, rest_size);
  // Behind the byte that completed the waiting escape, if any.
  AppendFormDecoded(rest, clean, decoded);
  // The few bytes after the clean end, a token at a time: a whole token is
  // decoded or fails as in the whole stream, an escape cut by the end of
  // the piece waits.
  std::size_t i = clean;
  while (i < rest_size) {
    const std::uint8_t b = rest[i];
    if (b != '%') {
      decoded.push_back(b == '+' ? ' ' : b);
      ++i;
      continue;
    }
    carry_[0] = '%';
    carried_ = 1;
    i += 1 + CompleteWaiting(rest + i + 1, rest_size - i - 1, decoded);
  }
}

void FormDecoder::Finish() const {
  if (carried_ > 0) throw DecodeError(DecodeErrorKind::IndexOutOfRange);
}

EncodedCount CountFormEncoded(
    std::uint64_t archive_size, const ArchiveReader& read,
    const std::function<void(const std::uint8_t* piece, std::size_t n)>& each) {
  EncodedCount count;
  Bytes raw(PieceOf(archive_size));
  while (count.read < archive_size) {
    const std::size_t got = read(raw.data(), PieceOf(archive_size - count.read));
    if (got == 0) break;
    count.encoded += FormEncodedSize(raw.data(), got);
    if (each) each(raw.data(), got);
    count.read += got;
  }
  return count;
}

FormEncoder::FormEncoder(std::uint64_t archive_size)
    : left_(archive_size), raw_(PieceOf(archive_size)) {}

std::size_t FormEncoder::Next(const ArchiveReader& read, Bytes& encoded) {
  encoded.clear();
  if (left_ == 0) return 0;
  const std::size_t got = read(raw_.data(), PieceOf(left_));
  if (got == 0) return 0;
  left_ -= got;
  AppendFormEncoded(raw_.data(), got, encoded);
  return got;
}

}  // namespace tolvex
