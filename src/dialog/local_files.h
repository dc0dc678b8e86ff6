// File steps the jobs share.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "component/file_system.h"
#include "component/path_style.h"

namespace tolvex {

using Bytes = std::vector<std::uint8_t>;

// Creates the directory chain of `dir`, ignoring each failure. Windows
// rules: only "\" separates levels, the part before the first "\" (a drive)
// is never created. POSIX rules: every missing ancestor is created and the
// root is never attempted.
void CreateDirectoryChain(FileSystem& files, const PathStyle& style, std::u16string_view dir);

// Creates `dir` itself (one level), ignoring a failure. On POSIX the
// ancestors are created too, so the no-data file can be written.
void CreateLocalDir(FileSystem& files, const PathStyle& style, std::u16string_view dir);

// Writes exactly `data` to a new or truncated file; throws FileError.
void WriteWholeFile(FileSystem& files, const std::u16string& path, const Bytes& data);

// Reads a whole file; throws FileError.
Bytes ReadWholeFile(FileSystem& files, const std::u16string& path);

// A name that stays inside the directory it is joined to: no separator of
// either kind and, on Windows, no drive or stream colon.
bool IsBareFileName(const PathStyle& style, std::u16string_view name);

// Copies a whole file; throws FileError.
void CopyWholeFile(FileSystem& files, const std::u16string& from, const std::u16string& to);

// The directory part of a path as the platform reads it: "" for a bare
// name, and on POSIX "/" for a name in the root.
std::u16string ParentDirectory(const PathStyle& style, std::u16string_view path);

// Where the caller's file at `path` is replaced: `path` itself, or the file
// its links lead to, so that the links stay. Nothing when that is neither
// a regular file nor missing (a directory, device, pipe or socket), or when
// the links cannot be followed.
std::optional<std::u16string> ReplaceableTarget(FileSystem& files, const std::u16string& path);

// A directory of one call's own inside `parent` for its work files: made
// afresh under a name no user would choose, closed to other users, and
// removed with everything in it when the object goes or Remove() is called.
class StagingDirectory {
 public:
  // Throws FileError when no such directory can be made.
  StagingDirectory(FileSystem& files, const PathStyle& style, std::u16string_view parent);
  StagingDirectory(const StagingDirectory&) = delete;
  StagingDirectory& operator=(const StagingDirectory&) = delete;
  ~StagingDirectory() { Remove(); }

  const std::u16string& path() const { return path_; }
  std::u16string File(std::u16string_view name) const { return JoinPath(style_, path_, name); }
  void Remove() noexcept;

 private:
  FileSystem& files_;
  PathStyle style_;
  std::u16string path_;
};

}  // namespace tolvex
