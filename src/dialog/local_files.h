// File steps the jobs share.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "component/bytes.h"
#include "component/file_system.h"
#include "component/path_style.h"
#include "component/trace.h"

namespace tolvex {

// Creates the directory chain of `dir`, ignoring each failure. Windows
// rules: "\" and "/" both separate levels, and the chain starts below the
// root: a drive ("C:\"), a share ("\\server\share") or a device or volume
// prefix ("\\?\C:\", "\\?\UNC\server\share") is never created, so a share
// costs no round trips for names that cannot be made. POSIX rules: every
// missing ancestor is created and the root is never attempted.
void CreateDirectoryChain(FileSystem& files, const PathStyle& style, std::u16string_view dir);

// Creates `dir` itself (one level), ignoring a failure. On POSIX the
// ancestors are created too, so the no-data file can be written.
void CreateLocalDir(FileSystem& files, const PathStyle& style, std::u16string_view dir);

// Writes exactly `data` to a new or truncated file and syncs it, as it is
// the caller's own; throws FileError.
void WriteWholeFile(FileSystem& files, const std::u16string& path, const Bytes& data);

// Reads a whole file; throws FileError.
Bytes ReadWholeFile(FileSystem& files, const std::u16string& path);

// Whether a copy must reach the disk before it counts as made: received
// data kept beside the caller's file must; a work copy read back in the
// same call need not.
enum class Copy { kScratch, kDurable };

// Copies a whole file to a new one; throws FileError, with
// FileFault::kExists when `to` exists. A copy that fails part-way (its
// sync included) is removed again.
void CopyWholeFile(FileSystem& files, const std::u16string& from, const std::u16string& to,
                   Copy copy);

// The directory part of a path as the platform reads it: "" for a bare
// name, and on POSIX "/" for a name in the root.
std::u16string ParentDirectory(const PathStyle& style, std::u16string_view path);

// Where the caller's file at `path` is replaced: `path` itself, or the file
// its links lead to, so that the links stay. Nothing when that is neither
// a regular file nor missing (a directory, device, pipe or socket), or when
// the links cannot be followed.
std::optional<std::u16string> ReplaceableTarget(FileSystem& files, const std::u16string& path);

// Why a receive could not put its data in place of the file at `path`, in
// plain words, as far as the file shows it before anything is asked of the
// server: a directory, a device, pipe or socket, a link that cannot be
// followed, a read-only file (on Windows). Nothing when it can. Only
// looks; opens nothing.
std::optional<std::string> ReceiveTargetRefusal(FileSystem& files, const std::u16string& path);

// The pauses before each further attempt at the final replace when it
// fails in a way that often passes by itself (another program holding the
// file for a moment): growing, about five seconds in all.
inline const std::vector<std::uint32_t> kReplacePausesMs = {100, 200, 400, 700, 1000, 1200, 1400};

// The local time as "20261209-023105", for names that say when they were
// made.
std::u16string LocalTimeStamp();

// How received data is named when it is kept beside the caller's file
// `target`: "<name>.received-<stamp><extension>", "orders.txt.received-
// 20261209-023105.zip". Where that name is too long for the system, the
// short "received-<stamp>-<short_tail>", "received-20261209-023105-
// C001.zip", is used. "-2", "-3" and on follow the stamp while a name is
// taken.
struct KeptName {
  std::u16string stamp;       // LocalTimeStamp()
  std::u16string extension;   // "" for the unpacked member, ".zip" for the archive
  std::u16string short_tail;  // "C001.dat", "C001.zip"
};

// The first free name for `name` beside `target`; `use_short` asks for the
// short form.
std::u16string KeptDataPath(FileSystem& files, const PathStyle& style, const std::u16string& target,
                            const KeptName& name, bool use_short = false);

// Where received data went that could not take the place of the caller's
// file.
struct Kept {
  std::u16string path;             // "" when it was lost
  std::optional<FileError> error;  // why it could not be kept
};

// Moves `from` (in the call's work directory) beside `target` under a
// KeptDataPath name, by a rename, or by a copy where the rename fails. The
// server has handed the data out and will not again.
Kept KeepBeside(FileSystem& files, const PathStyle& style, const std::u16string& from,
                const std::u16string& target, const KeptName& name, Trace& trace);

// What became of the received file.
struct Placement {
  bool placed = false;
  int attempts = 0;
  std::optional<FileError> error;  // the last failed attempt, when not placed
  Kept kept;                       // where the data is then, when not placed
};

// Waits one of the pauses between attempts; false when no attempt should
// follow (the call was cancelled meanwhile).
using RetryPause = std::function<bool(std::uint32_t milliseconds)>;

// Puts the received `member` in place of `target` in one durable step,
// after giving it the old file's permissions. A transient failure is
// tried again after each of `pauses_ms`, waited by `pause` (by default the
// thread sleeps). When the file cannot be replaced, `target` stays as it
// was and the data the server handed out is kept beside it by KeepBeside
// under `kept_name`. Each failed attempt is a step of the trace.
Placement PutInPlace(FileSystem& files, const PathStyle& style, const std::u16string& member,
                     const std::u16string& target, const KeptName& kept_name,
                     const std::vector<std::uint32_t>& pauses_ms, Trace& trace,
                     const RetryPause& pause = {});

// A directory of one call's own inside `parent` for its work files: made
// afresh under a name no user would choose, closed to other users, and
// removed with everything in it when the object goes or Remove() is called.
// One that cannot be removed is named in `trace`.
class StagingDirectory {
 public:
  // Throws FileError when no such directory can be made.
  StagingDirectory(FileSystem& files, const PathStyle& style, std::u16string_view parent,
                   Trace& trace = DiscardingTrace());
  StagingDirectory(const StagingDirectory&) = delete;
  StagingDirectory& operator=(const StagingDirectory&) = delete;
  ~StagingDirectory() { Remove(); }

  const std::u16string& path() const { return path_; }
  std::u16string File(std::u16string_view name) const { return JoinPath(style_, path_, name); }
  void Remove() noexcept;

 private:
  FileSystem& files_;
  PathStyle style_;
  Trace& trace_;
  std::u16string path_;
};

// Why a receive could not keep anything in `dir`, the directory its
// staging directory goes into, in plain words; nothing when it can. Asked
// before the post, so the server is not asked for data that has nowhere
// to go. Where `dir` exists, the staging directory is made there and
// handed back in `stage`; where it is still to be made, a staging
// directory is made and removed again in the nearest directory above it
// that exists. Nothing else on disk changes.
std::optional<std::string> StagingRefusal(FileSystem& files, const PathStyle& style,
                                          const std::u16string& dir,
                                          std::optional<StagingDirectory>& stage, Trace& trace);

}  // namespace tolvex
