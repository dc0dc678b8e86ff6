// The file system on Windows, through the wide-character entry points
// alone. Every path is handed to the system in its extended-length form
// ("\\?\C:\...", "\\?\UNC\server\share\..."), so a deep directory works up
// to the file system's own limits; the paths the component sees and shows
// stay in their ordinary form. Names the system reads as devices ("NUL",
// "C:\work\COM1") are refused before anything is opened.
//
// Thread contract: the port's: one thread at a time (the dialog's thread,
// the post's worker, the archive step's worker, or a TolvexArchiver object's
// caller); it holds no state between operations.
#pragma once

#include "component/file_system.h"

namespace tolvex::win32 {

class Win32FileSystem final : public FileSystem {
 public:
  // GetFullPathNameW for a path that is not absolute ("x.txt", "\x.txt",
  // "D:x.txt"); an absolute one stays as the caller wrote it.
  std::u16string AbsolutePath(const std::u16string& path) override;
  std::unique_ptr<ReadableFile> OpenForRead(const std::u16string& path) override;
  // An existing file is cut to 0 bytes in place, so it keeps its
  // attributes and security.
  std::unique_ptr<WritableFile> OpenForWrite(const std::u16string& path) override;
  std::unique_ptr<WritableFile> CreateNew(const std::u16string& path) override;
  // Opens with read access while denying other processes read access; a
  // directory or anything GetFileType does not call a disk file is false.
  bool ProbeOpenForRead(const std::u16string& path) noexcept override;
  std::uint64_t FileLength(const std::u16string& path) override;
  bool Exists(const std::u16string& path) noexcept override;
  bool IsDirectory(const std::u16string& path) noexcept override;
  // Symbolic links and junctions alike: any reparse point.
  bool IsLink(const std::u16string& path) noexcept override;
  void CreateDirectory(const std::u16string& path) override;
  void DeleteFile(const std::u16string& path) override;
  void RenameReplacing(const std::u16string& from, const std::u16string& to) override;
  void RenameNew(const std::u16string& from, const std::u16string& to) override;
  std::optional<std::uint64_t> FreeSpace(const std::u16string& dir) noexcept override;
  FileKind KindOf(const std::u16string& path) noexcept override;
  // The final path of the file a link leads to, as the system names it;
  // a link to nothing cannot be followed.
  std::u16string ResolveLinks(const std::u16string& path) override;
  // It inherits the security of the directory it is made in, like every
  // file the caller keeps there.
  void CreatePrivateDirectory(const std::u16string& path) override;
  // Read-only entries are made writable first, or they could not go; a
  // link inside goes as a link.
  void RemoveTree(const std::u16string& path) noexcept override;
  bool IsReadOnly(const std::u16string& path) noexcept override;
  // Hidden, system and not-indexed carry over; the archive attribute is
  // set, as on any file with new data, so a backup takes it.
  void CopyPermissions(const std::u16string& from, const std::u16string& to) override;
  // On one handle of `from`: FlushFileBuffers, the access control list of
  // `to` where the caller may set it (access already granted to the handle
  // stays), then the rename over `to`. A read-only `to` is refused and
  // stays as it is: Windows refuses to replace it, and Wine would not.
  std::string ReplaceDurably(const std::u16string& from, const std::u16string& to) override;
};

}  // namespace tolvex::win32
