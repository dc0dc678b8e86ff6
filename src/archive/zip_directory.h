// Reading an archive's central directory. Everything that can be judged
// without inflating data is judged here, for every member, before the
// first byte is extracted: names, encryption, methods, link members,
// duplicates, sizes and the placement of each member's data.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "archive/archive_input.h"

namespace tolvex::zip {

struct ZipMember {
  std::u16string name;  // checked relative path, '/' separated
  bool is_directory = false;
  std::uint16_t method = 0;
  std::uint32_t crc = 0;
  std::uint64_t compressed_size = 0;
  std::uint64_t uncompressed_size = 0;
  std::uint64_t local_header_offset = 0;
  std::uint64_t data_offset = 0;
};

// A directory beyond this many bytes is refused rather than held in memory.
inline constexpr std::uint64_t kMaxDirectoryBytes = 64ull << 20;

// An archive with more members than this is refused before any is made:
// the jobs expect one, and each costs a file or directory on the disk.
inline constexpr std::uint64_t kMaxMembers = 1024;

// Members in directory order. Throws ArchiveFailure.
std::vector<ZipMember> ReadZipDirectory(ArchiveInput& archive);

}  // namespace tolvex::zip
