// Helpers for the archiver tests: a scratch directory on disk, whole-file
// reads and writes, and a builder for hand-made (often malformed) archives.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "archive/zip_archiver.h"
#include "component/bytes.h"
#include "component/file_system.h"

namespace tolvex::test {

class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::u16string u16() const { return path_.u16string(); }

 private:
  std::filesystem::path path_;
};

void WriteBytes(const std::filesystem::path& path, const Bytes& data);
Bytes ReadBytes(const std::filesystem::path& path);
// Names of every entry below `dir`, relative, '/' separated.
std::set<std::string> ListTree(const std::filesystem::path& dir);

// Text and binary runs, the kind of data the jobs move.
Bytes MixedData(std::size_t size, std::uint32_t seed = 1);

struct CraftedMember {
  std::string name;
  std::string data;
  bool deflate = false;
  std::uint16_t flags = 0;
  std::uint16_t method_override = 0xFFFF;
  std::uint16_t made_by = 20;
  std::uint32_t external_attributes = 0;
  std::optional<std::uint32_t> crc;
  std::optional<std::uint32_t> uncompressed_size;
  std::optional<std::uint32_t> compressed_size;
  std::optional<std::string> local_name;
};

CraftedMember Crafted(std::string name, std::string data, bool deflate = true);

// A plain archive with the fields of each member as given.
Bytes CraftZip(const std::vector<CraftedMember>& members);
Bytes RawDeflate(const std::string& data);

struct UnpackResult {
  std::int32_t error;
  std::string text;
};

UnpackResult PackWith(ZipArchiver& archiver, const std::u16string& dir,
                      const std::u16string& archive_name, const std::vector<std::u16string>& files);
UnpackResult UnpackWith(ZipArchiver& archiver, const std::u16string& dir,
                        const std::u16string& archive_name);

}  // namespace tolvex::test
