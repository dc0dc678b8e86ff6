#include "memory_file_system.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "component/text.h"

namespace tolvex::fuzz {

namespace {

class MemoryReader : public ReadableFile {
 public:
  explicit MemoryReader(std::shared_ptr<std::vector<std::uint8_t>> data) : data_(std::move(data)) {}
  std::size_t Read(std::uint8_t* out, std::size_t size) override {
    const auto n = std::min<std::uint64_t>(size, data_->size() - std::min(position_, Size()));
    if (n > 0) std::memcpy(out, data_->data() + position_, n);
    position_ += n;
    return static_cast<std::size_t>(n);
  }
  void Seek(std::uint64_t offset) override { position_ = offset; }
  std::uint64_t Size() override { return data_->size(); }

 private:
  std::shared_ptr<std::vector<std::uint8_t>> data_;
  std::uint64_t position_ = 0;
};

class MemoryWriter : public WritableFile {
 public:
  MemoryWriter(std::shared_ptr<std::vector<std::uint8_t>> data, std::shared_ptr<std::uint64_t> used,
               std::uint64_t capacity)
      : data_(std::move(data)), used_(std::move(used)), capacity_(capacity) {}
  void Write(const std::uint8_t* in, std::size_t size) override {
    if (*used_ + size > capacity_) throw FileError("disk full");
    *used_ += size;
    data_->insert(data_->end(), in, in + size);
  }
  bool Sync() override { return true; }
  void Close() override {}

 private:
  std::shared_ptr<std::vector<std::uint8_t>> data_;
  std::shared_ptr<std::uint64_t> used_;
  std::uint64_t capacity_;
};

}  // namespace

MemoryFileSystem::MemoryFileSystem(std::u16string jail, char16_t separator, std::uint64_t capacity)
    : jail_(std::move(jail)), separator_(separator), capacity_(capacity) {
  directories_.insert(jail_);
}

void MemoryFileSystem::PutFile(const std::u16string& path, std::vector<std::uint8_t> data) {
  files_[path] = std::make_shared<std::vector<std::uint8_t>>(std::move(data));
}

std::vector<std::u16string> MemoryFileSystem::Files() const {
  std::vector<std::u16string> names;
  for (const auto& entry : files_) names.push_back(entry.first);
  return names;
}

void MemoryFileSystem::CheckInsideJail(const std::u16string& path) const {
  const auto prefix = jail_ + separator_;
  if (path.compare(0, prefix.size(), prefix) != 0) std::abort();
  std::size_t start = prefix.size();
  while (true) {
    const auto end = std::min(path.find_first_of(u"/\\", start), path.size());
    const auto level = path.substr(start, end - start);
    if (level.empty() || level == u"." || level == u"..") std::abort();
    if (end == path.size()) break;
    start = end + 1;
  }
}

std::u16string MemoryFileSystem::Parent(const std::u16string& path) const {
  return path.substr(0, path.find_last_of(separator_));
}

std::unique_ptr<ReadableFile> MemoryFileSystem::OpenForRead(const std::u16string& path) {
  const auto it = files_.find(path);
  if (it == files_.end()) throw FileError("open " + ToUtf8(path));
  return std::make_unique<MemoryReader>(it->second);
}

std::unique_ptr<WritableFile> MemoryFileSystem::OpenForWrite(const std::u16string& path) {
  CheckInsideJail(path);
  if (directories_.count(Parent(path)) == 0 || directories_.count(path) != 0) {
    throw FileError("create " + ToUtf8(path));
  }
  auto data = std::make_shared<std::vector<std::uint8_t>>();
  files_[path] = data;
  return std::make_unique<MemoryWriter>(data, used_, capacity_);
}

bool MemoryFileSystem::ProbeOpenForRead(const std::u16string& path) noexcept {
  return files_.count(path) != 0;
}

std::uint64_t MemoryFileSystem::FileLength(const std::u16string& path) {
  const auto it = files_.find(path);
  if (it == files_.end()) throw FileError("length of " + ToUtf8(path));
  return it->second->size();
}

bool MemoryFileSystem::Exists(const std::u16string& path) noexcept {
  return files_.count(path) != 0 || directories_.count(path) != 0;
}

bool MemoryFileSystem::IsDirectory(const std::u16string& path) noexcept {
  return directories_.count(path) != 0;
}

bool MemoryFileSystem::IsLink(const std::u16string&) noexcept { return false; }

std::u16string MemoryFileSystem::AbsolutePath(const std::u16string& path) { return path; }

std::unique_ptr<WritableFile> MemoryFileSystem::CreateNew(const std::u16string& path) {
  if (Exists(path)) throw FileError("create " + ToUtf8(path), FileFault::kExists, "exists");
  return OpenForWrite(path);
}

void MemoryFileSystem::RenameNew(const std::u16string& from, const std::u16string& to) {
  if (Exists(to)) throw FileError("rename " + ToUtf8(from), FileFault::kExists, "exists");
  RenameReplacing(from, to);
}

FileKind MemoryFileSystem::KindOf(const std::u16string& path) noexcept {
  if (IsDirectory(path)) return FileKind::kDirectory;
  return Exists(path) ? FileKind::kRegular : FileKind::kMissing;
}

std::u16string MemoryFileSystem::ResolveLinks(const std::u16string& path) { return path; }

void MemoryFileSystem::CreatePrivateDirectory(const std::u16string& path) { CreateDirectory(path); }

bool MemoryFileSystem::IsReadOnly(const std::u16string&) noexcept { return false; }

void MemoryFileSystem::CopyPermissions(const std::u16string&, const std::u16string&) {}

std::string MemoryFileSystem::ReplaceDurably(const std::u16string& from, const std::u16string& to) {
  RenameReplacing(from, to);
  return {};
}

void MemoryFileSystem::CreateDirectory(const std::u16string& path) {
  CheckInsideJail(path);
  if (Exists(path) || directories_.count(Parent(path)) == 0) {
    throw FileError("create directory " + ToUtf8(path));
  }
  directories_.insert(path);
}

void MemoryFileSystem::DeleteFile(const std::u16string& path) {
  CheckInsideJail(path);
  if (files_.erase(path) == 0) throw FileError("delete " + ToUtf8(path));
}

void MemoryFileSystem::RenameReplacing(const std::u16string& from, const std::u16string& to) {
  CheckInsideJail(from);
  CheckInsideJail(to);
  const auto it = files_.find(from);
  if (it == files_.end() || directories_.count(to) != 0) throw FileError("rename " + ToUtf8(from));
  auto data = it->second;
  files_.erase(it);
  files_[to] = std::move(data);
}

std::optional<std::uint64_t> MemoryFileSystem::FreeSpace(const std::u16string&) noexcept {
  return capacity_ - *used_;
}

void MemoryFileSystem::RemoveTree(const std::u16string& path) noexcept {
  CheckInsideJail(path);
  const std::u16string below = path + separator_;
  const auto inside = [&](const std::u16string& p) { return p == path || p.rfind(below, 0) == 0; };
  for (auto it = files_.begin(); it != files_.end();) {
    it = inside(it->first) ? files_.erase(it) : std::next(it);
  }
  for (auto it = directories_.begin(); it != directories_.end();) {
    it = inside(*it) ? directories_.erase(it) : std::next(it);
  }
}

}  // namespace tolvex::fuzz
