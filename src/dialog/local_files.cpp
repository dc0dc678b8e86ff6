#include "dialog/local_files.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <random>
#include <thread>

#include "component/path_forms.h"
#include "component/text.h"

namespace tolvex {

namespace {

// Without a source of randomness the name still differs by the clock.
std::uint32_t RandomWord() noexcept {
  try {
    std::random_device device;
    return static_cast<std::uint32_t>(device());
  } catch (...) {
    return 0;
  }
}

void CreateIgnoringErrors(FileSystem& files, std::u16string_view dir) noexcept {
  try {
    files.CreateDirectory(std::u16string(dir));
  } catch (...) {
  }
}

// `name` in the directory `dir` of a path whose last separator stood at
// `sep` (npos: there was none, and the name stands alone, as the path did).
std::u16string JoinKept(const PathStyle& style, const std::u16string& dir, std::size_t sep,
                        std::u16string_view name) {
  if (sep == std::u16string::npos) return std::u16string(name);
  if (sep == 0) return std::u16string(1, style.separator) + std::u16string(name);
  return JoinPath(style, dir, name);
}

// Both systems take names of at most 255 units: UTF-16 units on Windows,
// bytes on POSIX.
bool NameFits(const PathStyle& style, const std::u16string& name) {
  return (style.separator == u'\\' ? name.size() : ToUtf8(name).size()) <= 255;
}

}  // namespace

void CreateDirectoryChain(FileSystem& files, const PathStyle& style, std::u16string_view dir) {
  const std::size_t root = RootLength(style, dir);
  for (std::size_t i = root + 1; i < dir.size(); ++i) {
    if (IsSeparator(style, dir[i])) CreateIgnoringErrors(files, dir.substr(0, i));
  }
  if (dir.size() > root) CreateIgnoringErrors(files, dir);
}

void CreateLocalDir(FileSystem& files, const PathStyle& style, std::u16string_view dir) {
  if (style.create_ancestors) {
    CreateDirectoryChain(files, style, dir);
  } else {
    CreateIgnoringErrors(files, dir);
  }
}

void WriteWholeFile(FileSystem& files, const std::u16string& path, const Bytes& data) {
  auto file = files.OpenForWrite(path);
  if (!data.empty()) file->Write(data.data(), data.size());
  file->Sync();
  file->Close();
}

Bytes ReadWholeFile(FileSystem& files, const std::u16string& path) {
  auto file = files.OpenForRead(path);
  const auto size = file->Size();
  Bytes data(static_cast<std::size_t>(size));
  std::size_t filled = 0;
  while (filled < data.size()) {
    const auto got = file->Read(data.data() + filled, data.size() - filled);
    if (got == 0) throw FileError("short read");
    filled += got;
  }
  return data;
}

void CopyWholeFile(FileSystem& files, const std::u16string& from, const std::u16string& to,
                   Copy copy) {
  auto source = files.OpenForRead(from);
  auto target = files.CreateNew(to);
  // From here `to` is this call's own, and a failure takes it away again.
  try {
    Bytes buffer(256 * 1024);
    for (;;) {
      const auto got = source->Read(buffer.data(), buffer.size());
      if (got == 0) break;
      target->Write(buffer.data(), got);
    }
    if (copy == Copy::kDurable) target->Sync();
    target->Close();
  } catch (...) {
    target.reset();
    try {
      files.DeleteFile(to);
    } catch (...) {
    }
    throw;
  }
}

std::u16string ParentDirectory(const PathStyle& style, std::u16string_view path) {
  const auto sep = path.find_last_of(Separators(style));
  if (sep == std::u16string_view::npos) return u"";
  if (sep == 0 && style.empty_dir_is_current) return u"/";
  return std::u16string(path.substr(0, sep));
}

std::optional<std::u16string> ReplaceableTarget(FileSystem& files, const std::u16string& path) {
  std::u16string target = path;
  if (files.KindOf(path) == FileKind::kLink) {
    try {
      target = files.ResolveLinks(path);
    } catch (const FileError&) {
      return std::nullopt;
    }
  }
  const FileKind kind = files.KindOf(target);
  if (kind != FileKind::kRegular && kind != FileKind::kMissing) return std::nullopt;
  return target;
}

std::optional<std::string> ReceiveTargetRefusal(FileSystem& files, const std::u16string& path) {
  std::u16string target = path;
  FileKind kind = files.KindOf(path);
  if (kind == FileKind::kLink) {
    try {
      target = files.ResolveLinks(path);
    } catch (const FileError&) {
      return std::string("its link cannot be followed");
    }
    kind = files.KindOf(target);
  }
  switch (kind) {
    case FileKind::kMissing:
      return std::nullopt;
    case FileKind::kRegular:
      if (files.IsReadOnly(target)) return std::string(FaultWords(FileFault::kReadOnly));
      return std::nullopt;
    case FileKind::kDirectory:
      return std::string("it is a directory");
    case FileKind::kLink:
      return std::string("its link cannot be followed");
    case FileKind::kOther:
      break;
  }
  return std::string(FaultWords(FileFault::kNotDiskFile));
}

std::optional<std::string> StagingRefusal(FileSystem& files, const PathStyle& style,
                                          const std::u16string& dir,
                                          std::optional<StagingDirectory>& stage, Trace& trace) {
  // "C:" names the current directory of drive C; its root is meant.
  const auto as_directory = [&](const std::u16string& path) {
    const bool drive = style.separator == u'\\' && path.size() == 2 && path[1] == u':';
    return drive ? path + style.separator : path;
  };
  try {
    if (files.IsDirectory(as_directory(dir))) {
      stage.emplace(files, style, dir, trace);
      return std::nullopt;
    }
    std::u16string existing = dir;
    for (;;) {
      if (files.KindOf(as_directory(existing)) != FileKind::kMissing) {
        if (!files.IsDirectory(as_directory(existing))) {
          return ToUtf8(existing) + " is not a directory";
        }
        break;
      }
      const std::u16string parent = ParentDirectory(style, existing);
      if (parent.empty() || parent == existing) {
        return "no directory of " + ToUtf8(dir) + " exists, not even its root";
      }
      existing = parent;
    }
    StagingDirectory probe(files, style, existing, trace);
    return std::nullopt;
  } catch (const FileError& error) {
    return std::string("no directory can be made in it: ") + error.what();
  }
}

std::u16string LocalTimeStamp() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
#ifdef _WIN32
  localtime_s(&local, &now);
#else
  localtime_r(&now, &local);
#endif
  char text[32] = {};
  std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &local);
  return FromUtf8(text);
}

std::u16string KeptDataPath(FileSystem& files, const PathStyle& style, const std::u16string& target,
                            const KeptName& name, bool use_short) {
  const std::size_t sep = target.find_last_of(Separators(style));
  const std::u16string dir = sep == std::u16string::npos ? u"" : target.substr(0, sep);
  const std::u16string file = sep == std::u16string::npos ? target : target.substr(sep + 1);
  const auto named = [&](const std::u16string& number) {
    return use_short ? u"received-" + name.stamp + number + u"-" + name.short_tail
                     : file + u".received-" + name.stamp + number + name.extension;
  };
  std::u16string candidate = JoinKept(style, dir, sep, named(u""));
  // Bounded, should the file system answer "there" for every name.
  for (int n = 2; n < 1000 && files.KindOf(candidate) != FileKind::kMissing; ++n) {
    candidate = JoinKept(style, dir, sep, named(u"-" + FromUtf8(std::to_string(n))));
  }
  return candidate;
}

Kept KeepBeside(FileSystem& files, const PathStyle& style, const std::u16string& from,
                const std::u16string& target, const KeptName& name, Trace& trace) {
  // A name longer than the system takes cannot be made at all: the short
  // form is used from the start, and after a refusal for its length.
  const std::size_t sep = target.find_last_of(Separators(style));
  const std::u16string file = sep == std::u16string::npos ? target : target.substr(sep + 1);
  bool use_short = !NameFits(style, file + u".received-" + name.stamp + name.extension);
  Kept kept;
  try {
    for (int tries = 0; tries < 4; ++tries) {
      const std::u16string path = KeptDataPath(files, style, target, name, use_short);
      try {
        files.RenameNew(from, path);
        kept.path = path;
        return kept;
      } catch (const FileError& error) {
        if (error.fault == FileFault::kPathTooLong && !use_short) {
          use_short = true;
          continue;
        }
        // Taken in the meantime: the next name.
        if (error.fault != FileFault::kExists) throw;
      }
    }
  } catch (const FileError& error) {
    trace.Step(std::string("keeping the received data by a rename: ") + error.what());
  }
  // A work directory that lets nothing out by a rename still lets the data
  // be read.
  const std::u16string path = KeptDataPath(files, style, target, name, use_short);
  try {
    CopyWholeFile(files, from, path, Copy::kDurable);
    kept.path = path;
  } catch (const FileError& error) {
    kept.error = error;
  }
  return kept;
}

Placement PutInPlace(FileSystem& files, const PathStyle& style, const std::u16string& member,
                     const std::u16string& target, const KeptName& kept_name,
                     const std::vector<std::uint32_t>& pauses_ms, Trace& trace,
                     const RetryPause& pause_between) {
  Placement placement;
  try {
    if (files.KindOf(target) == FileKind::kRegular) files.CopyPermissions(target, member);
    for (std::size_t pause = 0;; ++pause) {
      ++placement.attempts;
      try {
        if (const std::string note = files.ReplaceDurably(member, target); !note.empty()) {
          trace.Step(note);
        }
        placement.placed = true;
        return placement;
      } catch (const FileError& error) {
        if (!error.transient || pause >= pauses_ms.size()) throw;
        trace.Step(std::string(error.what()) + "; trying again in " +
                   std::to_string(pauses_ms[pause]) + " ms");
        if (!pause_between) {
          std::this_thread::sleep_for(std::chrono::milliseconds(pauses_ms[pause]));
        } else if (!pause_between(pauses_ms[pause])) {
          throw;
        }
      }
    }
  } catch (const FileError& error) {
    placement.error = error;
  }
  placement.kept = KeepBeside(files, style, member, target, kept_name, trace);
  return placement;
}

StagingDirectory::StagingDirectory(FileSystem& files, const PathStyle& style,
                                   std::u16string_view parent, Trace& trace)
    : files_(files), style_(style), trace_(trace) {
  // A name that is taken is simply passed over (two calls beside one file
  // meet one in 65536 times an attempt); ever failing attempts mean the
  // directory cannot be made at all.
  constexpr int kAttempts = 16;
  // Some random devices repeat from process to process; the clock keeps
  // two calls started together apart.
  auto clock = static_cast<std::uint64_t>(
      std::chrono::high_resolution_clock::now().time_since_epoch().count());
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    // Short, so that deep directories keep their room for the paths the
    // archive control takes: ".tolvex-" and four hex digits.
    const auto value = RandomWord() ^ static_cast<std::uint32_t>(clock);
    clock = (clock >> 16) | (clock << 48);
    std::u16string name = u".tolvex-";
    for (int shift = 12; shift >= 0; shift -= 4)
      name += u"0123456789abcdef"[(value >> shift) & 0xF];
    const std::u16string candidate = JoinPath(style, parent, name);
    try {
      files_.CreatePrivateDirectory(candidate);
      path_ = candidate;
      return;
    } catch (const FileError& error) {
      // Only a name that is taken is worth another one.
      const bool taken = error.fault == FileFault::kExists || error.fault == FileFault::kOther;
      if (!taken || attempt + 1 == kAttempts) throw;
    }
  }
}

void StagingDirectory::Remove() noexcept {
  if (path_.empty()) return;
  files_.RemoveTree(path_);
  if (files_.KindOf(path_) != FileKind::kMissing) {
    try {
      trace_.Step("the work directory " + ToUtf8(path_) +
                  " could not be removed (something in it is held open?); it is safe to delete");
    } catch (...) {
    }
  }
  path_.clear();
}

}  // namespace tolvex
