#include "dialog/local_files.h"

namespace tolvex {

namespace {

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

void DeleteIgnoringErrors(FileSystem& files, const std::u16string& path) noexcept {
  try {
    files.DeleteFile(path);
  } catch (...) {
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

KeptFile::~KeptFile() {
  if (aside_.empty()) return;
  try {
    files_.RenameReplacing(aside_, path_);
  } catch (...) {
    // Left under its aside name, never deleted.
  }
}

bool KeptFile::SetAside(const std::u16string& path, const std::u16string& aside) {
  if (!files_.Exists(path)) return true;
  DeleteIgnoringErrors(files_, aside);
  try {
    files_.RenameReplacing(path, aside);
  } catch (const FileError&) {
    return false;
  }
  path_ = path;
  aside_ = aside;
  return true;
}

void KeptFile::Discard() noexcept {
  if (aside_.empty()) return;
  DeleteIgnoringErrors(files_, aside_);
  aside_.clear();
}

bool IsBareFileName(const PathStyle& style, std::u16string_view name) {
  if (name.empty() || name == u"." || name == u"..") return false;
  const std::u16string_view forbidden = style.separator == u'\\' ? u"/\\:" : u"/\\";
  return name.find_first_of(forbidden) == std::u16string_view::npos;
}

bool SameFileName(const PathStyle& style, std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  const bool fold = style.separator == u'\\';
  for (std::size_t i = 0; i < a.size(); ++i) {
    char16_t x = a[i], y = b[i];
    if (fold) {
      if (x >= u'a' && x <= u'z') x = static_cast<char16_t>(x - 32);
      if (y >= u'a' && y <= u'z') y = static_cast<char16_t>(y - 32);
    }
    if (x != y) return false;
  }
  return true;
}

}  // namespace tolvex
