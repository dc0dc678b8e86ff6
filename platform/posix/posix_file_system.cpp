#include "posix_file_system.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "component/text.h"

namespace tolvex::posix {
namespace {

[[noreturn]] void Fail(const char* operation, const std::string& path, int error) {
  throw FileError(std::string(operation) + " " + path + ": " + std::strerror(error));
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

void PosixFileSystem::CreatePrivateDirectory(const std::u16string& path) {
  const std::string native = ToUtf8(path);
  // mkdir fails when anything of that name exists, a link included.
  if (mkdir(native.c_str(), 0700) != 0) Fail("create directory", native, errno);
}

void PosixFileSystem::ReplaceDurably(const std::u16string& from, const std::u16string& to) {
  const std::string source = ToUtf8(from);
  const std::string target = ToUtf8(to);
  SyncPath(source, O_RDONLY);
  if (rename(source.c_str(), target.c_str()) != 0) Fail("rename", source, errno);
  // The new entry is in place; a directory that cannot be synced (some
  // network file systems refuse) does not undo it.
  try {
    SyncPath(DirectoryOf(target), O_RDONLY | O_DIRECTORY);
  } catch (const FileError&) {
  }
}

}  // namespace tolvex::posix
