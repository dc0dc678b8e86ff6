// The file system on Windows: the portable implementation, with the calls
// that need a Win32 API of their own (a share mode, a replacing rename)
// made through the wide-character entry points.
#pragma once

#include "component/file_system.h"

namespace tolvex::win32 {

class Win32FileSystem final : public StdFileSystem {
 public:
  // Opens with read access while denying other processes read access.
  bool ProbeOpenForRead(const std::u16string& path) noexcept override;
  void CreateDirectory(const std::u16string& path) override;
  void DeleteFile(const std::u16string& path) override;
  void RenameReplacing(const std::u16string& from, const std::u16string& to) override;
  std::optional<std::uint64_t> FreeSpace(const std::u16string& dir) noexcept override;
  // Symbolic links and junctions alike: any reparse point.
  bool IsLink(const std::u16string& path) noexcept override;
};

}  // namespace tolvex::win32
