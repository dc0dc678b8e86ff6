// The file system on POSIX: the portable implementation, with the steps
// the standard library cannot take made through the POSIX calls: files
// written on a descriptor that Sync takes to the disk, a work directory
// created with its final mode at once, a replacing rename whose data and
// directory entry reach the disk, a rename that never replaces, and an
// open check that never opens a device or a pipe for its data.
//
// Thread contract: the port's: one thread at a time; it holds no state
// between operations.
#pragma once

#include "component/file_system.h"

namespace tolvex::posix {

class PosixFileSystem final : public StdFileSystem {
 public:
  // Joined to the current directory as it is, without resolving "..":
  // the kernel resolves the joined path as it would the relative one.
  std::u16string AbsolutePath(const std::u16string& path) override;
  bool ProbeOpenForRead(const std::u16string& path) noexcept override;
  std::unique_ptr<WritableFile> OpenForWrite(const std::u16string& path) override;
  std::unique_ptr<WritableFile> CreateNew(const std::u16string& path) override;
  void RenameNew(const std::u16string& from, const std::u16string& to) override;
  void CreatePrivateDirectory(const std::u16string& path) override;
  std::string ReplaceDurably(const std::u16string& from, const std::u16string& to) override;
};

}  // namespace tolvex::posix
