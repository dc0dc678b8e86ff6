// The file system on POSIX: the portable implementation, with the steps
// the standard library cannot take made through the POSIX calls: a work
// directory created with its final mode at once, and a replacing rename
// whose data and directory entry reach the disk.
#pragma once

#include "component/file_system.h"

namespace tolvex::posix {

class PosixFileSystem final : public StdFileSystem {
 public:
  void CreatePrivateDirectory(const std::u16string& path) override;
  void ReplaceDurably(const std::u16string& from, const std::u16string& to) override;
};

}  // namespace tolvex::posix
