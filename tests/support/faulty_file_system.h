// The one file-system fake of the unit tests and the fuzzer, after
// leveldb's fault-injection environment: a FileSystem over the real disk
// (StdFileSystem, for tests that look at the files themselves) or over an
// in-memory tree (for the fuzzer, and for tests that speak paths of
// another system), whose operations a test scripts to fail: the nth write
// or sync of a file, a rename, a create, a remove, a disk that fills up, a
// sector that cannot be read. It notes the steps that make a replacement
// durable and counts every operation.
//
// The in-memory tree holds one writable directory, the jail: creating,
// replacing or deleting anything outside it, or reaching it through a path
// with ".", ".." or empty levels, aborts the run, so the fuzzer reports it
// as a crash.
#pragma once

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "component/file_system.h"
#include "component/text.h"

namespace tolvex::testing {

// The operations a script can fail; each is counted on its own.
enum class FileOp {
  kAbsolutePath,
  kOpenForRead,
  kRead,
  kCreate,  // OpenForWrite and CreateNew
  kWrite,
  kSync,  // a file's Sync, and the flush of `from` that ReplaceDurably makes
  kClose,
  kProbe,  // a failing ProbeOpenForRead answers false
  kLength,
  kCreateDirectory,
  kCreatePrivateDirectory,
  kDelete,
  kRename,  // RenameReplacing
  kRenameNew,
  kReplace,  // ReplaceDurably
  kCopyPermissions,
  kCount,
};

namespace detail {

// A tree of files and directories in memory, with Windows or POSIX
// separators alike.
class MemoryTree final : public FileSystem {
 public:
  MemoryTree(std::u16string jail, char16_t separator)
      : jail_(std::move(jail)), separator_(separator) {
    directories_.insert(jail_);
  }

  std::u16string current_directory;

  void PutFile(const std::u16string& path, std::vector<std::uint8_t> data) {
    files_[path] = std::make_shared<std::vector<std::uint8_t>>(std::move(data));
  }
  std::vector<std::u16string> Files() const {
    std::vector<std::u16string> names;
    for (const auto& entry : files_) names.push_back(entry.first);
    return names;
  }

  std::u16string AbsolutePath(const std::u16string& path) override {
    const bool absolute = (path.size() > 1 && path[1] == u':') ||
                          (!path.empty() && (path[0] == u'/' || path[0] == u'\\'));
    if (current_directory.empty() || absolute) return path;
    return current_directory + separator_ + path;
  }
  std::unique_ptr<ReadableFile> OpenForRead(const std::u16string& path) override {
    const auto it = files_.find(path);
    if (it == files_.end()) Fail("open", path, FileFault::kNotFound);
    return std::make_unique<Reader>(it->second);
  }
  std::unique_ptr<WritableFile> OpenForWrite(const std::u16string& path) override {
    CheckInsideJail(path);
    if (directories_.count(Parent(path)) == 0) Fail("create", path, FileFault::kNotFound);
    if (directories_.count(path) != 0) Fail("create", path, FileFault::kAccessDenied);
    auto data = std::make_shared<std::vector<std::uint8_t>>();
    files_[path] = data;
    return std::make_unique<Writer>(data);
  }
  std::unique_ptr<WritableFile> CreateNew(const std::u16string& path) override {
    if (Exists(path)) Fail("create", path, FileFault::kExists);
    return OpenForWrite(path);
  }
  bool ProbeOpenForRead(const std::u16string& path) noexcept override {
    return files_.count(path) != 0;
  }
  std::uint64_t FileLength(const std::u16string& path) override {
    const auto it = files_.find(path);
    if (it == files_.end()) Fail("length of", path, FileFault::kNotFound);
    return it->second->size();
  }
  bool Exists(const std::u16string& path) noexcept override {
    return files_.count(path) != 0 || directories_.count(path) != 0;
  }
  bool IsDirectory(const std::u16string& path) noexcept override {
    return directories_.count(path) != 0;
  }
  bool IsLink(const std::u16string&) noexcept override { return false; }
  void CreateDirectory(const std::u16string& path) override {
    CheckInsideJail(path);
    if (Exists(path)) Fail("create directory", path, FileFault::kExists);
    if (directories_.count(Parent(path)) == 0) {
      Fail("create directory", path, FileFault::kNotFound);
    }
    directories_.insert(path);
  }
  void DeleteFile(const std::u16string& path) override {
    CheckInsideJail(path);
    if (files_.erase(path) == 0) Fail("delete", path, FileFault::kNotFound);
  }
  void RenameReplacing(const std::u16string& from, const std::u16string& to) override {
    CheckInsideJail(from);
    CheckInsideJail(to);
    const auto it = files_.find(from);
    if (it == files_.end()) Fail("rename", from, FileFault::kNotFound);
    if (directories_.count(to) != 0) Fail("rename", from, FileFault::kAccessDenied);
    auto data = it->second;
    files_.erase(it);
    files_[to] = std::move(data);
  }
  void RenameNew(const std::u16string& from, const std::u16string& to) override {
    if (Exists(to)) Fail("rename", from, FileFault::kExists);
    RenameReplacing(from, to);
  }
  std::optional<std::uint64_t> FreeSpace(const std::u16string&) noexcept override {
    return std::nullopt;
  }
  FileKind KindOf(const std::u16string& path) noexcept override {
    if (IsDirectory(path)) return FileKind::kDirectory;
    return files_.count(path) != 0 ? FileKind::kRegular : FileKind::kMissing;
  }
  std::u16string ResolveLinks(const std::u16string& path) override { return path; }
  void CreatePrivateDirectory(const std::u16string& path) override { CreateDirectory(path); }
  void RemoveTree(const std::u16string& path) noexcept override {
    CheckInsideJail(path);
    const std::u16string below = path + separator_;
    const auto inside = [&](const std::u16string& p) {
      return p == path || p.rfind(below, 0) == 0;
    };
    for (auto it = files_.begin(); it != files_.end();) {
      it = inside(it->first) ? files_.erase(it) : std::next(it);
    }
    for (auto it = directories_.begin(); it != directories_.end();) {
      it = inside(*it) ? directories_.erase(it) : std::next(it);
    }
  }
  bool IsReadOnly(const std::u16string&) noexcept override { return false; }
  void CopyPermissions(const std::u16string&, const std::u16string&) override {}
  std::string ReplaceDurably(const std::u16string& from, const std::u16string& to) override {
    RenameReplacing(from, to);
    return {};
  }

 private:
  using Data = std::shared_ptr<std::vector<std::uint8_t>>;

  class Reader final : public ReadableFile {
   public:
    explicit Reader(Data data) : data_(std::move(data)) {}
    std::size_t Read(std::uint8_t* out, std::size_t size) override {
      const auto n = std::min<std::uint64_t>(size, data_->size() - std::min(position_, Size()));
      if (n > 0) std::memcpy(out, data_->data() + position_, n);
      position_ += n;
      return static_cast<std::size_t>(n);
    }
    void Seek(std::uint64_t offset) override { position_ = offset; }
    std::uint64_t Size() override { return data_->size(); }

   private:
    Data data_;
    std::uint64_t position_ = 0;
  };

  class Writer final : public WritableFile {
   public:
    explicit Writer(Data data) : data_(std::move(data)) {}
    void Write(const std::uint8_t* in, std::size_t size) override {
      data_->insert(data_->end(), in, in + size);
    }
    bool Sync() override { return true; }
    void Close() override {}

   private:
    Data data_;
  };

  [[noreturn]] static void Fail(const char* operation, const std::u16string& path,
                                FileFault fault) {
    const std::string reason(FaultWords(fault));
    throw FileError(std::string(operation) + " " + ToUtf8(path) + ": " + reason, fault, reason);
  }
  void CheckInsideJail(const std::u16string& path) const {
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
  std::u16string Parent(const std::u16string& path) const {
    return path.substr(0, path.find_last_of(separator_));
  }

  std::u16string jail_;
  char16_t separator_;
  std::map<std::u16string, Data> files_;
  std::set<std::u16string> directories_;
};

}  // namespace detail

class FaultyFileSystem final : public FileSystem {
 public:
  // Over the real disk.
  FaultyFileSystem() : base_(std::make_unique<StdFileSystem>()) {}
  // Over an empty in-memory tree whose one writable directory is `jail`.
  FaultyFileSystem(std::u16string jail, char16_t separator)
      : FaultyFileSystem(std::make_unique<detail::MemoryTree>(std::move(jail), separator)) {}

  // Makes the calls of `op` numbered `from` to `to` (from 1, counted among
  // those on a path whose last name is `name`, "" for any) throw `error`.
  void Fail(FileOp op, FileError error, std::string name = "", int from = 1, int to = INT_MAX) {
    faults_.push_back(Fault{op, std::move(name), from, to, 0, std::move(error)});
  }
  // No scripted fault any more; the counts and the limits stay.
  void Heal() { faults_.clear(); }
  // How many times `op` was called, failed calls included.
  int Count(FileOp op) const { return counts_[static_cast<int>(op)]; }
  // The paths `op` was called on, in order (the first of two).
  std::vector<std::u16string> Paths(FileOp op) const {
    std::vector<std::u16string> paths;
    for (const auto& [called, path] : log_) {
      if (called == op) paths.push_back(path);
    }
    return paths;
  }

  // The steps that make a replacement durable, by the names of the files
  // involved: "permissions a -> b", "replace b -> a".
  std::vector<std::string> notes;
  // Bytes all writes together may still add; past it a write fails as on a
  // full disk.
  std::uint64_t room = UINT64_MAX;
  // Bytes all reads together may still return; past it a read fails as a
  // bad sector does.
  std::uint64_t readable = UINT64_MAX;
  // What FreeSpace answers instead of the disk, when set.
  std::optional<std::uint64_t> free_space;
  std::string replace_note;  // what a replace tells the trace
  bool stuck_trees = false;  // nothing can be removed (a file held open inside)

  // The in-memory tree only: its files, and the current directory that a
  // relative path is joined to ("": none, paths stay as given).
  void PutFile(const std::u16string& path, std::vector<std::uint8_t> data) {
    memory_->PutFile(path, std::move(data));
  }
  std::vector<std::u16string> Files() const { return memory_->Files(); }
  void SetCurrentDirectory(std::u16string dir) { memory_->current_directory = std::move(dir); }

  std::u16string AbsolutePath(const std::u16string& path) override {
    Check(FileOp::kAbsolutePath, path);
    return base_->AbsolutePath(path);
  }
  std::unique_ptr<ReadableFile> OpenForRead(const std::u16string& path) override {
    Check(FileOp::kOpenForRead, path);
    return std::make_unique<Reader>(*this, base_->OpenForRead(path), path);
  }
  std::unique_ptr<WritableFile> OpenForWrite(const std::u16string& path) override {
    Check(FileOp::kCreate, path);
    return std::make_unique<Writer>(*this, base_->OpenForWrite(path), path);
  }
  std::unique_ptr<WritableFile> CreateNew(const std::u16string& path) override {
    Check(FileOp::kCreate, path);
    return std::make_unique<Writer>(*this, base_->CreateNew(path), path);
  }
  bool ProbeOpenForRead(const std::u16string& path) noexcept override {
    try {
      Check(FileOp::kProbe, path);
    } catch (const FileError&) {
      return false;
    }
    return base_->ProbeOpenForRead(path);
  }
  std::uint64_t FileLength(const std::u16string& path) override {
    Check(FileOp::kLength, path);
    return base_->FileLength(path);
  }
  bool Exists(const std::u16string& path) noexcept override { return base_->Exists(path); }
  bool IsDirectory(const std::u16string& path) noexcept override {
    return base_->IsDirectory(path);
  }
  bool IsLink(const std::u16string& path) noexcept override { return base_->IsLink(path); }
  void CreateDirectory(const std::u16string& path) override {
    Check(FileOp::kCreateDirectory, path);
    base_->CreateDirectory(path);
  }
  void DeleteFile(const std::u16string& path) override {
    Check(FileOp::kDelete, path);
    base_->DeleteFile(path);
  }
  void RenameReplacing(const std::u16string& from, const std::u16string& to) override {
    Check(FileOp::kRename, from, to);
    base_->RenameReplacing(from, to);
  }
  void RenameNew(const std::u16string& from, const std::u16string& to) override {
    Check(FileOp::kRenameNew, from, to);
    base_->RenameNew(from, to);
  }
  std::optional<std::uint64_t> FreeSpace(const std::u16string& dir) noexcept override {
    return free_space ? free_space : base_->FreeSpace(dir);
  }
  FileKind KindOf(const std::u16string& path) noexcept override { return base_->KindOf(path); }
  std::u16string ResolveLinks(const std::u16string& path) override {
    return base_->ResolveLinks(path);
  }
  void CreatePrivateDirectory(const std::u16string& path) override {
    Check(FileOp::kCreatePrivateDirectory, path);
    base_->CreatePrivateDirectory(path);
  }
  void RemoveTree(const std::u16string& path) noexcept override {
    if (!stuck_trees) base_->RemoveTree(path);
  }
  bool IsReadOnly(const std::u16string& path) noexcept override { return base_->IsReadOnly(path); }
  void CopyPermissions(const std::u16string& from, const std::u16string& to) override {
    notes.push_back("permissions " + Name(from) + " -> " + Name(to));
    Check(FileOp::kCopyPermissions, from, to);
    base_->CopyPermissions(from, to);
  }
  std::string ReplaceDurably(const std::u16string& from, const std::u16string& to) override {
    notes.push_back("replace " + Name(from) + " -> " + Name(to));
    Check(FileOp::kReplace, from, to);
    Check(FileOp::kSync, from);
    base_->ReplaceDurably(from, to);
    return replace_note;
  }

 private:
  struct Fault {
    FileOp op;
    std::string name;
    int from, to;
    int seen;
    FileError error;
  };

  class Reader final : public ReadableFile {
   public:
    Reader(FaultyFileSystem& files, std::unique_ptr<ReadableFile> file, std::u16string path)
        : files_(files), file_(std::move(file)), path_(std::move(path)) {}
    std::size_t Read(std::uint8_t* data, std::size_t size) override {
      files_.Check(FileOp::kRead, path_);
      const std::size_t got = file_->Read(data, size);
      if (got > files_.readable) {
        throw FileError("read " + ToUtf8(path_) + ": Input/output error", FileFault::kOther,
                        "Input/output error");
      }
      files_.readable -= got;
      return got;
    }
    void Seek(std::uint64_t offset) override { file_->Seek(offset); }
    std::uint64_t Size() override { return file_->Size(); }

   private:
    FaultyFileSystem& files_;
    std::unique_ptr<ReadableFile> file_;
    std::u16string path_;
  };

  class Writer final : public WritableFile {
   public:
    Writer(FaultyFileSystem& files, std::unique_ptr<WritableFile> file, std::u16string path)
        : files_(files), file_(std::move(file)), path_(std::move(path)) {}
    void Write(const std::uint8_t* data, std::size_t size) override {
      files_.Check(FileOp::kWrite, path_);
      if (size > files_.room) {
        throw FileError("write " + ToUtf8(path_) + ": No space left on device",
                        FileFault::kDiskFull, "No space left on device");
      }
      files_.room -= size;
      file_->Write(data, size);
    }
    bool Sync() override {
      files_.Check(FileOp::kSync, path_);
      return file_->Sync();
    }
    void Close() override {
      files_.Check(FileOp::kClose, path_);
      file_->Close();
    }

   private:
    FaultyFileSystem& files_;
    std::unique_ptr<WritableFile> file_;
    std::u16string path_;
  };

  explicit FaultyFileSystem(std::unique_ptr<detail::MemoryTree> tree)
      : memory_(tree.get()), base_(std::move(tree)) {}

  static std::string Name(const std::u16string& path) {
    const auto slash = path.find_last_of(u"/\\");
    return ToUtf8(slash == std::u16string::npos ? path : path.substr(slash + 1));
  }

  // Counts the call and throws the first scripted fault that falls on it.
  void Check(FileOp op, const std::u16string& path, const std::u16string& other = u"") {
    ++counts_[static_cast<int>(op)];
    log_.emplace_back(op, path);
    const std::string name = Name(path);
    const std::string other_name = other.empty() ? "" : Name(other);
    for (auto& fault : faults_) {
      if (fault.op != op) continue;
      if (!fault.name.empty() && fault.name != name && fault.name != other_name) continue;
      ++fault.seen;
      if (fault.seen >= fault.from && fault.seen <= fault.to) throw fault.error;
    }
  }

  detail::MemoryTree* memory_ = nullptr;  // owned by base_ when set
  std::unique_ptr<FileSystem> base_;
  std::vector<Fault> faults_;
  int counts_[static_cast<int>(FileOp::kCount)] = {};
  std::vector<std::pair<FileOp, std::u16string>> log_;
};

}  // namespace tolvex::testing
