// An in-memory file system for fuzzing the archiver. It holds one writable
// tree, the jail; any attempt to create, replace or delete something
// outside it, or to reach it through a path with "." or ".." or empty
// levels, aborts the run, so the fuzzer reports it as a crash.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "component/file_system.h"

namespace tolvex::fuzz {

class MemoryFileSystem : public FileSystem {
 public:
  MemoryFileSystem(std::u16string jail, char16_t separator, std::uint64_t capacity);

  void PutFile(const std::u16string& path, std::vector<std::uint8_t> data);
  // Paths of the files below the jail.
  std::vector<std::u16string> Files() const;

  std::unique_ptr<ReadableFile> OpenForRead(const std::u16string& path) override;
  std::unique_ptr<WritableFile> OpenForWrite(const std::u16string& path) override;
  bool ProbeOpenForRead(const std::u16string& path) noexcept override;
  std::uint64_t FileLength(const std::u16string& path) override;
  bool Exists(const std::u16string& path) noexcept override;
  bool IsDirectory(const std::u16string& path) noexcept override;
  bool IsLink(const std::u16string& path) noexcept override;
  std::u16string AbsolutePath(const std::u16string& path) override;
  std::unique_ptr<WritableFile> CreateNew(const std::u16string& path) override;
  void RenameNew(const std::u16string& from, const std::u16string& to) override;
  FileKind KindOf(const std::u16string& path) noexcept override;
  std::u16string ResolveLinks(const std::u16string& path) override;
  void CreatePrivateDirectory(const std::u16string& path) override;
  bool IsReadOnly(const std::u16string& path) noexcept override;
  void CopyPermissions(const std::u16string& from, const std::u16string& to) override;
  std::string ReplaceDurably(const std::u16string& from, const std::u16string& to) override;
  void CreateDirectory(const std::u16string& path) override;
  void DeleteFile(const std::u16string& path) override;
  void RenameReplacing(const std::u16string& from, const std::u16string& to) override;
  std::optional<std::uint64_t> FreeSpace(const std::u16string& dir) noexcept override;
  void RemoveTree(const std::u16string& path) noexcept override;

 private:
  using Data = std::shared_ptr<std::vector<std::uint8_t>>;
  void CheckInsideJail(const std::u16string& path) const;
  std::u16string Parent(const std::u16string& path) const;

  std::u16string jail_;
  char16_t separator_;
  std::uint64_t capacity_;
  std::shared_ptr<std::uint64_t> used_ = std::make_shared<std::uint64_t>(0);
  std::map<std::u16string, Data> files_;
  std::set<std::u16string> directories_;
};

}  // namespace tolvex::fuzz
