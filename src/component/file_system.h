// The file-system port. The jobs, the open check of SendProgress and the
// zip archiver reach files only through it, so every path can run on a fake
// and the Windows build can use wide-character APIs behind the same calls.
// Paths are component strings (UTF-16); the back end converts them.
//
// Thread contract: one thread at a time: the dialog's thread, the post's
// worker (it writes the receive's work file or reads the send's) or the
// archive step's worker (ZipArchiver's files). A file opened on one goes to
// another only across the join that ends a worker. Back ends hold no state
// between operations.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

namespace tolvex {

// Why a file operation failed, as far as a user can act on it.
enum class FileFault {
  kOther,
  kNotFound,
  kExists,        // a no-replace rename met a file of that name
  kInUse,         // another program has the file open or locked
  kAccessDenied,  // the system refuses this user the operation
  kReadOnly,      // the file is marked read-only
  kPathTooLong,
  kDiskFull,
  kNotDiskFile,  // a device, pipe or socket
};

// A failing file operation. `what()` names the operation and the file and
// ends with the system's reason and number; `reason` holds the reason
// alone in plain words. A transient failure is one that often goes away
// by itself within seconds (a sharing violation, a scanner's brief lock).
struct FileError : std::runtime_error {
  explicit FileError(const std::string& message) : std::runtime_error(message) {}
  FileError(const std::string& message, FileFault fault, std::string reason, bool transient = false)
      : std::runtime_error(message),
        fault(fault),
        reason(std::move(reason)),
        transient(transient) {}

  FileFault fault = FileFault::kOther;
  std::string reason;
  bool transient = false;
};

// Plain words for a fault: "the file is open in another program".
std::string_view FaultWords(FileFault fault);
// The fault behind a POSIX errno value (the standard library's as well).
FileFault FaultOfErrno(int error);

class ReadableFile {
 public:
  virtual ~ReadableFile() = default;
  // Reads up to `size` bytes at the current position; 0 at the end.
  virtual std::size_t Read(std::uint8_t* data, std::size_t size) = 0;
  virtual void Seek(std::uint64_t offset) = 0;
  virtual std::uint64_t Size() = 0;
};

class WritableFile {
 public:
  virtual ~WritableFile() = default;
  virtual void Write(const std::uint8_t* data, std::size_t size) = 0;
  // Takes what was written so far to stable storage, so that a power cut
  // after it returns loses none of it. True when it got there; false from a
  // back end that can only hand the data to the system. A failure throws
  // FileError and is a failed write.
  virtual bool Sync() = 0;
  // Flushes and closes; a failure here is a failed write. Destroying an
  // unclosed file closes it without reporting.
  virtual void Close() = 0;
};

// What a path itself names; a link is not followed.
enum class FileKind { kMissing, kRegular, kDirectory, kLink, kOther };

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // The caller's path as the system reads it: `path` itself when it is
  // absolute, else joined to the process's current directory; on Windows
  // an existing file's short (8.3) names are spelled out long. Back ends
  // without a current directory return it unchanged.
  virtual std::u16string AbsolutePath(const std::u16string& path) = 0;

  virtual std::unique_ptr<ReadableFile> OpenForRead(const std::u16string& path) = 0;
  // Creates the file or cuts an existing one to 0 bytes.
  virtual std::unique_ptr<WritableFile> OpenForWrite(const std::u16string& path) = 0;
  // Creates a file that must not exist yet: anything of that name (a file,
  // a link, a directory another user made first) fails it with
  // FileFault::kExists and is left alone. The work files of a call are
  // made so. Back ends over a real disk make the check and the creation
  // one step.
  virtual std::unique_ptr<WritableFile> CreateNew(const std::u16string& path) = 0;

  // Opens the file for reading while denying other processes read access,
  // then closes it at once; false when that fails for any reason. Anything
  // but a disk file (a device, a pipe, a socket) is refused without being
  // opened for its data, so the probe never blocks.
  virtual bool ProbeOpenForRead(const std::u16string& path) noexcept = 0;

  virtual std::uint64_t FileLength(const std::u16string& path) = 0;
  virtual bool Exists(const std::u16string& path) noexcept = 0;
  virtual bool IsDirectory(const std::u16string& path) noexcept = 0;
  // True when `path` itself is a symbolic link (or another redirection the
  // back end can see). The archiver never extracts through one.
  virtual bool IsLink(const std::u16string& path) noexcept = 0;

  // One directory level; fails if the parent is missing or the name exists.
  virtual void CreateDirectory(const std::u16string& path) = 0;
  virtual void DeleteFile(const std::u16string& path) = 0;
  // Replaces an existing `to` in one step.
  virtual void RenameReplacing(const std::u16string& from, const std::u16string& to) = 0;
  // Renames only if `to` does not exist; a FileError of FileFault::kExists
  // otherwise. Back ends over a real disk make the check and the rename one
  // step.
  virtual void RenameNew(const std::u16string& from, const std::u16string& to) = 0;

  // Bytes available to the caller on the volume holding `dir`, if known.
  virtual std::optional<std::uint64_t> FreeSpace(const std::u16string& dir) noexcept = 0;

  // Without a way to tell devices and pipes apart, anything that is neither
  // a link nor a directory counts as a regular file.
  virtual FileKind KindOf(const std::u16string& path) noexcept = 0;
  // The path that the chain of links starting at `path` leads to; `path`
  // itself when it is no link. Throws FileError when the chain cannot be
  // followed (a loop, an unreadable link, a back end without links).
  virtual std::u16string ResolveLinks(const std::u16string& path) = 0;
  // Creates a directory that must not exist yet and that no other user may
  // enter; throws FileError otherwise.
  virtual void CreatePrivateDirectory(const std::u16string& path) = 0;
  // Removes `path` and everything below it; links inside are removed, never
  // followed. Failures are ignored.
  virtual void RemoveTree(const std::u16string& path) noexcept = 0;
  // True when the system itself refuses to replace the file: the read-only
  // attribute on Windows. POSIX has no such mark; its directory decides.
  virtual bool IsReadOnly(const std::u16string& path) noexcept = 0;
  // Gives `to` what `from` carries besides its data: the permission bits on
  // POSIX, the hidden, system and archive attributes on Windows.
  virtual void CopyPermissions(const std::u16string& from, const std::u16string& to) = 0;
  // Puts `from` in place of `to` by one rename on one volume, durably: the
  // data of `from` reaches the disk before the rename and the rename itself
  // right after, so a power cut leaves the old file or the new one. A
  // failure leaves `to` whole; its FileError says whether it is transient.
  // On Windows the new file also takes the old one's access control list
  // where the caller may set it; where not, it keeps the list it inherited.
  // Returns what the trace should know of it ("" for nothing).
  virtual std::string ReplaceDurably(const std::u16string& from, const std::u16string& to) = 0;
};

// The portable implementation on the C++ standard library (std::filesystem
// and its streams take wide paths on Windows, UTF-8 on POSIX), for the
// server, the tests and the benchmarks. What the standard library cannot
// express it does less of, and says so here: a file's Sync hands the data
// to the system and answers false, as it cannot reach the disk;
// ReplaceDurably is a plain rename for the same reason; CreateNew and
// RenameNew check first and act then, in two steps; no mark but the
// directory's makes a file read-only.
class StdFileSystem : public FileSystem {
 public:
  // As given: the system joins a relative path to the current directory
  // at each call.
  std::u16string AbsolutePath(const std::u16string& path) override;
  std::unique_ptr<ReadableFile> OpenForRead(const std::u16string& path) override;
  std::unique_ptr<WritableFile> OpenForWrite(const std::u16string& path) override;
  std::unique_ptr<WritableFile> CreateNew(const std::u16string& path) override;
  bool ProbeOpenForRead(const std::u16string& path) noexcept override;
  std::uint64_t FileLength(const std::u16string& path) override;
  bool Exists(const std::u16string& path) noexcept override;
  bool IsDirectory(const std::u16string& path) noexcept override;
  bool IsLink(const std::u16string& path) noexcept override;
  void CreateDirectory(const std::u16string& path) override;
  void DeleteFile(const std::u16string& path) override;
  void RenameReplacing(const std::u16string& from, const std::u16string& to) override;
  void RenameNew(const std::u16string& from, const std::u16string& to) override;
  std::optional<std::uint64_t> FreeSpace(const std::u16string& dir) noexcept override;
  FileKind KindOf(const std::u16string& path) noexcept override;
  std::u16string ResolveLinks(const std::u16string& path) override;
  void CreatePrivateDirectory(const std::u16string& path) override;
  void RemoveTree(const std::u16string& path) noexcept override;
  bool IsReadOnly(const std::u16string& path) noexcept override;
  void CopyPermissions(const std::u16string& from, const std::u16string& to) override;
  std::string ReplaceDurably(const std::u16string& from, const std::u16string& to) override;
};

}  // namespace tolvex
