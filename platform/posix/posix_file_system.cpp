#include "posix_file_system.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <system_error>
#include <vector>

#include "component/buffered_writable_file.h"
#include "component/text.h"

namespace tolvex::posix {
namespace {

[[noreturn]] void Fail(const char* operation, const std::string& path, int error) {
  const std::string reason = std::strerror(error);
  const FileFault fault = FaultOfErrno(error);
  throw FileError(std::string(operation) + " " + path + ": " + reason, fault, reason,
                  fault == FileFault::kInUse);
}

// Owns one descriptor.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// On a descriptor that Sync can reach.
class PosixWritableFile final : public BufferedWritableFile {
 public:
  PosixWritableFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  ~PosixWritableFile() override {
    if (fd_ < 0) return;
    try {
      Drain();
    } catch (...) {
    }
    close(fd_);
  }
  PosixWritableFile(const PosixWritableFile&) = delete;
  PosixWritableFile& operator=(const PosixWritableFile&) = delete;

  bool Sync() override {
    Drain();
    if (fsync(fd_) != 0) Fail("sync", path_, errno);
    return true;
  }

  void Close() override {
    Drain();
    const int fd = fd_;
    fd_ = -1;
    // The descriptor is gone whatever close answers; its error is the
    // last word on a write the system held back.
    if (close(fd) != 0) Fail("close", path_, errno);
  }

 private:
  void WriteThrough(const std::uint8_t* data, std::size_t size) override {
    while (size > 0) {
      const ssize_t written = write(fd_, data, std::min<std::size_t>(size, 1u << 30));
      if (written < 0) {
        if (errno == EINTR) continue;
        Fail("write", path_, errno);
      }
      data += written;
      size -= static_cast<std::size_t>(written);
    }
  }

  int fd_;
  std::string path_;
};

std::unique_ptr<WritableFile> OpenWritable(const std::u16string& path, int flags) {
  const std::string native = ToUtf8(path);
  const int fd = open(native.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | flags, 0666);
  if (fd < 0) Fail("create", native, errno);
  return std::make_unique<PosixWritableFile>(fd, native);
}

void SyncPath(const std::string& path, int flags) {
  Descriptor fd(open(path.c_str(), flags | O_CLOEXEC));
  if (fd.get() < 0) Fail("open", path, errno);
  if (fsync(fd.get()) != 0) Fail("sync", path, errno);
}

std::string DirectoryOf(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

std::u16string PosixFileSystem::AbsolutePath(const std::u16string& path) {
  if (path.empty() || path[0] == u'/') return path;
  std::string cwd(256, '\0');
  while (getcwd(cwd.data(), cwd.size()) == nullptr) {
    // No current directory to join to (it was removed): the path stays as
    // it is, and the kernel gives its answer to it.
    if (errno != ERANGE) return path;
    cwd.resize(cwd.size() * 2);
  }
  cwd.resize(std::strlen(cwd.c_str()));
  if (cwd.empty() || cwd.back() != '/') cwd += '/';
  return FromUtf8(cwd) + path;
}

bool PosixFileSystem::ProbeOpenForRead(const std::u16string& path) noexcept {
  try {
    const std::string native = ToUtf8(path);
    struct stat before {};
    if (stat(native.c_str(), &before) != 0 || !S_ISREG(before.st_mode)) return false;
    // Checked again on the descriptor: something swapped in between the
    // two calls is never read, and O_NONBLOCK keeps a pipe from holding
    // the open.
    Descriptor fd(open(native.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat opened {};
    return fd.get() >= 0 && fstat(fd.get(), &opened) == 0 && S_ISREG(opened.st_mode);
  } catch (...) {
    return false;
  }
}

void PosixFileSystem::RenameNew(const std::u16string& from, const std::u16string& to) {
  const std::string source = ToUtf8(from);
  const std::string target = ToUtf8(to);
  if (renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) return;
  if (errno != EINVAL && errno != ENOSYS) Fail("rename", source + " to " + target, errno);
  // A file system without the flag: a hard link fails on an existing name
  // just the same, and the old name then goes.
  if (link(source.c_str(), target.c_str()) != 0) Fail("link", source + " to " + target, errno);
  if (unlink(source.c_str()) != 0) Fail("unlink", source, errno);
}

void PosixFileSystem::CreatePrivateDirectory(const std::u16string& path) {
  const std::string native = ToUtf8(path);
  // mkdir fails when anything of that name exists, a link included.
  if (mkdir(native.c_str(), 0700) != 0) Fail("create directory", native, errno);
}

std::unique_ptr<WritableFile> PosixFileSystem::OpenForWrite(const std::u16string& path) {
  return OpenWritable(path, O_TRUNC);
}

std::unique_ptr<WritableFile> PosixFileSystem::CreateNew(const std::u16string& path) {
  // O_EXCL makes the name this call's in one step, a link of that name
  // included.
  return OpenWritable(path, O_EXCL);
}

std::string PosixFileSystem::ReplaceDurably(const std::u16string& from, const std::u16string& to) {
  const std::string source = ToUtf8(from);
  const std::string target = ToUtf8(to);
  SyncPath(source, O_RDONLY);
  if (rename(source.c_str(), target.c_str()) != 0) Fail("rename", source + " to " + target, errno);
  // The new entry is in place; a directory that cannot be synced (some
  // network file systems refuse) does not undo it.
  try {
    SyncPath(DirectoryOf(target), O_RDONLY | O_DIRECTORY);
  } catch (const FileError& error) {
    return std::string("the directory could not be synced after the rename: ") + error.what();
  }
  return {};
}

}  // namespace tolvex::posix
