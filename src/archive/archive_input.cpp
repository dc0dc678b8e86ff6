#include "archive/archive_input.h"

#include "archive/archive_errors.h"

namespace tolvex::zip {

ArchiveInput::ArchiveInput(ReadableFile& file, std::u16string name)
    : file_(file), name_(std::move(name)) {
  try {
    size_ = file_.Size();
  } catch (const FileError&) {
    throw ArchiveFailure(ArchiveErrc::kReadFailed, name_);
  }
}

void ArchiveInput::ReadAt(std::uint64_t offset, std::uint8_t* data, std::size_t length) {
  if (offset > size_ || length > size_ - offset) Damaged();
  try {
    if (offset != position_) file_.Seek(offset);
    position_ = offset;
    std::size_t done = 0;
    while (done < length) {
      const auto got = file_.Read(data + done, length - done);
      if (got == 0) break;
      done += got;
    }
    position_ += done;
    if (done < length) Damaged();
  } catch (const FileError&) {
    position_ = size_ + 1;  // unknown; seek before the next read
    throw ArchiveFailure(ArchiveErrc::kReadFailed, name_);
  }
}

std::vector<std::uint8_t> ArchiveInput::ReadAt(std::uint64_t offset, std::size_t length) {
  std::vector<std::uint8_t> data(length);
  ReadAt(offset, data.data(), length);
  return data;
}

void ArchiveInput::Damaged() const { throw ArchiveFailure(ArchiveErrc::kDamaged, name_); }

}  // namespace tolvex::zip
