// File steps the jobs share.
#pragma once

#include <cstdint>
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

// Deletes a file; a failure (missing file included) is ignored.
void DeleteIgnoringErrors(FileSystem& files, const std::u16string& path) noexcept;

// Writes exactly `data` to a new or truncated file; throws FileError.
void WriteWholeFile(FileSystem& files, const std::u16string& path, const Bytes& data);

// Reads a whole file; throws FileError.
Bytes ReadWholeFile(FileSystem& files, const std::u16string& path);

// A name that stays inside the directory it is joined to: no separator of
// either kind and, on Windows, no drive or stream colon.
bool IsBareFileName(const PathStyle& style, std::u16string_view name);

// A file moved out of the way for the length of a step: put back when the
// object goes, unless Discard() has been called, which deletes it.
class KeptFile {
 public:
  explicit KeptFile(FileSystem& files) : files_(files) {}
  KeptFile(const KeptFile&) = delete;
  KeptFile& operator=(const KeptFile&) = delete;
  ~KeptFile();

  // Moves an existing `path` to `aside`; true also when there is nothing to
  // move. False when the file exists but cannot be moved.
  bool SetAside(const std::u16string& path, const std::u16string& aside);
  void Discard() noexcept;

 private:
  FileSystem& files_;
  std::u16string path_, aside_;
};

// Whether two bare file names name the same file (Windows folds ASCII case).
bool SameFileName(const PathStyle& style, std::u16string_view a, std::u16string_view b);

}  // namespace tolvex
