#include <cerrno>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "component/file_system.h"
#include "component/text.h"

namespace tolvex {
namespace fs = std::filesystem;

namespace {

fs::path ToPath(const std::u16string& path) { return fs::path(path); }

// The system's reason for a failed stream operation ("No space left on
// device"); the streams report only that they failed.
std::error_code LastError() { return std::error_code(errno, std::generic_category()); }

[[noreturn]] void Fail(const char* operation, const std::u16string& path,
                       const std::error_code& ec = {}) {
  std::string message = std::string(operation) + " " + ToUtf8(path);
  if (!ec) throw FileError(message);
  message += ": " + ec.message();
  const FileFault fault =
      ec.category() == std::generic_category() ? FaultOfErrno(ec.value()) : FileFault::kOther;
  throw FileError(message, fault, ec.message(), fault == FileFault::kInUse);
}

class StdReadableFile : public ReadableFile {
 public:
  StdReadableFile(std::ifstream stream, std::u16string path)
      : stream_(std::move(stream)), path_(std::move(path)) {}

  std::size_t Read(std::uint8_t* data, std::size_t size) override {
    stream_.read(reinterpret_cast<char*>(data), static_cast<std::streamsize>(size));
    const auto got = static_cast<std::size_t>(stream_.gcount());
    if (stream_.bad()) Fail("read", path_);
    if (stream_.eof()) stream_.clear(stream_.rdstate() & ~std::ios::failbit);
    return got;
  }

  void Seek(std::uint64_t offset) override {
    stream_.clear();
    stream_.seekg(static_cast<std::streamoff>(offset));
    if (!stream_) Fail("seek", path_);
  }

  std::uint64_t Size() override {
    std::error_code ec;
    const auto size = fs::file_size(ToPath(path_), ec);
    if (ec) Fail("size of", path_, ec);
    return size;
  }

 private:
  std::ifstream stream_;
  std::u16string path_;
};

class StdWritableFile : public WritableFile {
 public:
  StdWritableFile(std::ofstream stream, std::u16string path)
      : stream_(std::move(stream)), path_(std::move(path)) {}

  void Write(const std::uint8_t* data, std::size_t size) override {
    errno = 0;
    stream_.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (!stream_) Fail("write", path_, LastError());
  }

  bool Sync() override {
    errno = 0;
    stream_.flush();
    if (!stream_) Fail("write", path_, LastError());
    return false;
  }

  void Close() override {
    errno = 0;
    stream_.close();
    if (!stream_) Fail("close", path_, LastError());
  }

 private:
  std::ofstream stream_;
  std::u16string path_;
};

}  // namespace

std::string_view FaultWords(FileFault fault) {
  switch (fault) {
    case FileFault::kNotFound:
      return "not found";
    case FileFault::kExists:
      return "a file of that name exists";
    case FileFault::kInUse:
      return "the file is open in another program";
    case FileFault::kAccessDenied:
      return "access is denied";
    case FileFault::kReadOnly:
      return "the file is read-only";
    case FileFault::kPathTooLong:
      return "path too long";
    case FileFault::kDiskFull:
      return "the disk is full";
    case FileFault::kNotDiskFile:
      return "not a disk file (a device, pipe or socket)";
    case FileFault::kOther:
      break;
  }
  return "the operation failed";
}

FileFault FaultOfErrno(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
      return FileFault::kNotFound;
    case EEXIST:
    case ENOTEMPTY:
      return FileFault::kExists;
    case EBUSY:
    case ETXTBSY:
      return FileFault::kInUse;
    case EACCES:
    case EPERM:
      return FileFault::kAccessDenied;
    case EROFS:
      return FileFault::kReadOnly;
    case ENAMETOOLONG:
      return FileFault::kPathTooLong;
    case ENOSPC:
#ifdef EDQUOT
    case EDQUOT:
#endif
      return FileFault::kDiskFull;
    case ENXIO:
    case ENODEV:
      return FileFault::kNotDiskFile;
    default:
      return FileFault::kOther;
  }
}

void StdFileSystem::RenameNew(const std::u16string& from, const std::u16string& to) {
  if (KindOf(to) != FileKind::kMissing) {
    throw FileError("rename " + ToUtf8(from) + " to " + ToUtf8(to) + ": " +
                        std::string(FaultWords(FileFault::kExists)),
                    FileFault::kExists, std::string(FaultWords(FileFault::kExists)));
  }
  RenameReplacing(from, to);
}

std::u16string StdFileSystem::AbsolutePath(const std::u16string& path) { return path; }

std::unique_ptr<ReadableFile> StdFileSystem::OpenForRead(const std::u16string& path) {
  if (IsDirectory(path)) Fail("open (a directory)", path);
  std::ifstream stream(ToPath(path), std::ios::binary);
  if (!stream) Fail("open", path);
  return std::make_unique<StdReadableFile>(std::move(stream), path);
}

std::unique_ptr<WritableFile> StdFileSystem::CreateNew(const std::u16string& path) {
  if (KindOf(path) != FileKind::kMissing) {
    const std::string reason = "a file of that name exists";
    throw FileError("create " + ToUtf8(path) + ": " + reason, FileFault::kExists, reason);
  }
  return OpenForWrite(path);
}

std::unique_ptr<WritableFile> StdFileSystem::OpenForWrite(const std::u16string& path) {
  errno = 0;
  std::ofstream stream(ToPath(path), std::ios::binary | std::ios::trunc);
  if (!stream) Fail("create", path, LastError());
  return std::make_unique<StdWritableFile>(std::move(stream), path);
}

bool StdFileSystem::ProbeOpenForRead(const std::u16string& path) noexcept {
  try {
    // A device or a pipe would be opened for its data (and a pipe without a
    // writer would block the open): only a regular file, or a link to one.
    std::error_code ec;
    if (!fs::is_regular_file(fs::status(ToPath(path), ec))) return false;
    std::ifstream stream(ToPath(path), std::ios::binary);
    return static_cast<bool>(stream);
  } catch (...) {
    return false;
  }
}

std::uint64_t StdFileSystem::FileLength(const std::u16string& path) {
  std::error_code ec;
  const auto size = fs::file_size(ToPath(path), ec);
  if (ec) Fail("length of", path, ec);
  return size;
}

bool StdFileSystem::Exists(const std::u16string& path) noexcept {
  try {
    std::error_code ec;
    return fs::exists(fs::symlink_status(ToPath(path), ec));
  } catch (...) {
    return false;
  }
}

bool StdFileSystem::IsDirectory(const std::u16string& path) noexcept {
  try {
    std::error_code ec;
    return fs::is_directory(ToPath(path), ec);
  } catch (...) {
    return false;
  }
}

bool StdFileSystem::IsLink(const std::u16string& path) noexcept {
  try {
    std::error_code ec;
    return fs::is_symlink(fs::symlink_status(ToPath(path), ec));
  } catch (...) {
    return false;
  }
}

void StdFileSystem::CreateDirectory(const std::u16string& path) {
  std::error_code ec;
  if (!fs::create_directory(ToPath(path), ec)) Fail("create directory", path, ec);
}

void StdFileSystem::DeleteFile(const std::u16string& path) {
  std::error_code ec;
  const auto p = ToPath(path);
  if (fs::is_directory(fs::symlink_status(p, ec))) Fail("delete (a directory)", path);
  if (!fs::remove(p, ec)) Fail("delete", path, ec);
}

void StdFileSystem::RenameReplacing(const std::u16string& from, const std::u16string& to) {
  std::error_code ec;
  fs::rename(ToPath(from), ToPath(to), ec);
  if (ec) Fail("rename", from + u" to " + to, ec);
}

std::optional<std::uint64_t> StdFileSystem::FreeSpace(const std::u16string& dir) noexcept {
  try {
    std::error_code ec;
    const auto info = fs::space(dir.empty() ? fs::path(".") : ToPath(dir), ec);
    if (ec) return std::nullopt;
    return info.available;
  } catch (...) {
    return std::nullopt;
  }
}

FileKind StdFileSystem::KindOf(const std::u16string& path) noexcept {
  try {
    std::error_code ec;
    switch (fs::symlink_status(ToPath(path), ec).type()) {
      case fs::file_type::not_found:
        return FileKind::kMissing;
      case fs::file_type::regular:
        return FileKind::kRegular;
      case fs::file_type::directory:
        return FileKind::kDirectory;
      case fs::file_type::symlink:
        return FileKind::kLink;
      default:
        // Unreadable status counts as "something else": never replaced.
        return FileKind::kOther;
    }
  } catch (...) {
    return FileKind::kOther;
  }
}

std::u16string StdFileSystem::ResolveLinks(const std::u16string& path) {
  // The limit the kernel itself puts on a chain (MAXSYMLINKS).
  constexpr int kMaxLinks = 40;
  fs::path current = ToPath(path);
  for (int hops = 0; hops <= kMaxLinks; ++hops) {
    std::error_code ec;
    if (!fs::is_symlink(fs::symlink_status(current, ec))) return current.u16string();
    const fs::path target = fs::read_symlink(current, ec);
    if (ec) Fail("read link", current.u16string(), ec);
    current = target.is_absolute() ? target : current.parent_path() / target;
  }
  Fail("follow links (too many)", path);
}

void StdFileSystem::CreatePrivateDirectory(const std::u16string& path) {
  CreateDirectory(path);
  std::error_code ec;
  fs::permissions(ToPath(path), fs::perms::owner_all, fs::perm_options::replace, ec);
  if (ec) {
    RemoveTree(path);
    Fail("restrict", path, ec);
  }
}

void StdFileSystem::RemoveTree(const std::u16string& path) noexcept {
  try {
    std::error_code ec;
    fs::remove_all(ToPath(path), ec);
  } catch (...) {
  }
}

bool StdFileSystem::IsReadOnly(const std::u16string&) noexcept { return false; }

void StdFileSystem::CopyPermissions(const std::u16string& from, const std::u16string& to) {
  std::error_code ec;
  const auto status = fs::status(ToPath(from), ec);
  if (ec) Fail("status of", from, ec);
  // The nine rwx bits only: a set-id bit of an old file is no promise about
  // data that came from a server.
  fs::permissions(ToPath(to), status.permissions() & fs::perms::all, fs::perm_options::replace, ec);
  if (ec) Fail("set permissions of", to, ec);
}

std::string StdFileSystem::ReplaceDurably(const std::u16string& from, const std::u16string& to) {
  RenameReplacing(from, to);
  return {};
}

}  // namespace tolvex
