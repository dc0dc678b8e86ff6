#include "dialog/local_files.h"

#include <chrono>
#include <random>

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

}  // namespace

void CreateDirectoryChain(FileSystem& files, const PathStyle& style, std::u16string_view dir) {
  bool first = true;
  for (std::size_t i = 0; i < dir.size(); ++i) {
    if (dir[i] != style.separator) continue;
    if (style.create_ancestors) {
      if (i > 0) CreateIgnoringErrors(files, dir.substr(0, i));
    } else if (!first) {
      CreateIgnoringErrors(files, dir.substr(0, i));
    }
    first = false;
  }
  if (!dir.empty()) CreateIgnoringErrors(files, dir);
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

bool IsBareFileName(const PathStyle& style, std::u16string_view name) {
  if (name.empty() || name == u"." || name == u"..") return false;
  const std::u16string_view forbidden = style.separator == u'\\' ? u"/\\:" : u"/\\";
  return name.find_first_of(forbidden) == std::u16string_view::npos;
}

void CopyWholeFile(FileSystem& files, const std::u16string& from, const std::u16string& to) {
  auto source = files.OpenForRead(from);
  auto target = files.OpenForWrite(to);
  Bytes buffer(256 * 1024);
  for (;;) {
    const auto got = source->Read(buffer.data(), buffer.size());
    if (got == 0) break;
    target->Write(buffer.data(), got);
  }
  target->Close();
}

std::u16string ParentDirectory(const PathStyle& style, std::u16string_view path) {
  const auto sep = path.find_last_of(style.separator == u'\\' ? u"/\\" : u"/");
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

StagingDirectory::StagingDirectory(FileSystem& files, const PathStyle& style,
                                   std::u16string_view parent)
    : files_(files), style_(style) {
  // A name that is taken is simply passed over; ever failing attempts mean
  // the directory cannot be made at all.
  constexpr int kAttempts = 8;
  // Some random devices repeat from process to process; the clock keeps
  // two calls started together apart.
  auto clock = static_cast<std::uint64_t>(
      std::chrono::high_resolution_clock::now().time_since_epoch().count());
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    std::u16string name = u".tolvex-";
    for (int i = 0; i < 4; ++i) {
      const auto value = RandomWord() ^ static_cast<std::uint32_t>(clock);
      clock = (clock >> 32) | (clock << 32);
      for (int shift = 28; shift >= 0; shift -= 4) {
        name += u"0123456789abcdef"[(value >> shift) & 0xF];
      }
    }
    const std::u16string candidate = JoinPath(style, parent, name);
    try {
      files_.CreatePrivateDirectory(candidate);
      path_ = candidate;
      return;
    } catch (const FileError&) {
      if (attempt + 1 == kAttempts) throw;
    }
  }
}

void StagingDirectory::Remove() noexcept {
  if (path_.empty()) return;
  files_.RemoveTree(path_);
  path_.clear();
}

}  // namespace tolvex
