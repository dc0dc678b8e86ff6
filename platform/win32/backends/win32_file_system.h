// The file system on Windows: the portable implementation, with the calls
// that need a Win32 API of their own (a share mode, a replacing rename, a
// flush to the disk, file attributes) made through the wide-character
// entry points.
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
  FileKind KindOf(const std::u16string& path) noexcept override;
  // The final path of the file a link leads to, as the system names it;
  // a link to nothing cannot be followed.
  std::u16string ResolveLinks(const std::u16string& path) override;
  void CreatePrivateDirectory(const std::u16string& path) override;
  // Read-only entries are made writable first, or they could not go.
  void RemoveTree(const std::u16string& path) noexcept override;
  // The read-only attribute only; the new file's security comes from its
  // directory, as for any file made there.
  void CopyPermissions(const std::u16string& from, const std::u16string& to) override;
  // FlushFileBuffers, then MoveFileExW with MOVEFILE_WRITE_THROUGH. A
  // read-only `to` is refused and stays as it is.
  void ReplaceDurably(const std::u16string& from, const std::u16string& to) override;
};

}  // namespace tolvex::win32
