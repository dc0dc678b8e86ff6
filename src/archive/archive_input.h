// Random-access reading of an archive with exact lengths: a short read
// means the archive is cut off, reported as damaged, never as garbage data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "component/file_system.h"

namespace tolvex::zip {

class ArchiveInput {
 public:
  ArchiveInput(ReadableFile& file, std::u16string name);

  std::uint64_t size() const { return size_; }
  const std::u16string& name() const { return name_; }

  // Exactly `length` bytes at `offset`; throws ArchiveFailure(kDamaged)
  // when the archive ends first, kReadFailed when the file cannot be read.
  void ReadAt(std::uint64_t offset, std::uint8_t* data, std::size_t length);
  std::vector<std::uint8_t> ReadAt(std::uint64_t offset, std::size_t length);

  [[noreturn]] void Damaged() const;

 private:
  ReadableFile& file_;
  std::u16string name_;
  std::uint64_t size_;
  std::uint64_t position_ = 0;
};

}  // namespace tolvex::zip
