// Streaming zip writer: members are deflated straight from their source
// file into the archive with bounded memory. The output is never sought
// back, so every compressed member carries a data descriptor.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "component/file_system.h"

namespace tolvex::zip {

class BlockDeflater;

struct ZipWriteOptions {
  int level = 5;
  // ZIP64 records for every member and the end of the archive, even small
  // ones; the writer otherwise uses them only where sizes or offsets need
  // them.
  bool force_zip64 = false;
  // Threads deflating a large member; 0: one per processor, at most four.
  // The archive is the same whatever the number.
  int deflate_helpers = 0;
  std::uint16_t dos_date = 0x21;  // 1980-01-01
  std::uint16_t dos_time = 0;
};

class ZipWriter {
 public:
  ZipWriter(WritableFile& out, std::u16string archive_name, ZipWriteOptions options);

  // Stores `source`, which should hold `expected_size` bytes, as `name`.
  // Throws ArchiveFailure (kReadFailed or kFileChanged naming the member,
  // kWriteFailed naming the archive).
  void AddFile(const std::u16string& name, ReadableFile& source, std::uint64_t expected_size);

  // Writes the central directory and the end records; does not close `out`.
  void Finish();

 private:
  struct Entry {
    std::vector<std::uint8_t> name;
    std::uint16_t flags = 0;
    std::uint16_t method = 0;
    std::uint16_t version_needed = 0;
    std::uint32_t crc = 0;
    std::uint64_t compressed_size = 0;
    std::uint64_t uncompressed_size = 0;
    std::uint64_t offset = 0;
  };

  void Emit(const std::uint8_t* data, std::size_t length);
  void Emit(const std::vector<std::uint8_t>& data) { Emit(data.data(), data.size()); }
  void WriteLocalHeader(const Entry& entry, bool zip64);
  void Deflate(Entry& entry, ReadableFile& source, std::uint64_t expected_size,
               const std::u16string& name);
  void DeflateInBlocks(Entry& entry, ReadableFile& source, std::uint64_t expected_size,
                       const std::u16string& name, BlockDeflater& blocks);
  // Up to `size` bytes of the member into `into`, counted and checked
  // against the size its header was written for; 0 at its end.
  static std::size_t ReadMember(Entry& entry, ReadableFile& source, std::uint64_t expected_size,
                                const std::u16string& name, std::uint8_t* into, std::size_t size);
  void WriteCentralHeader(const Entry& entry);

  WritableFile& out_;
  std::u16string archive_name_;
  ZipWriteOptions options_;
  std::uint64_t position_ = 0;
  std::vector<Entry> entries_;
};

}  // namespace tolvex::zip
