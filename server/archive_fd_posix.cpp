#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "archive_fd.h"

namespace tolvex::server {

int OpenArchiveForReading(const std::filesystem::path& file) {
  return open(file.c_str(), O_RDONLY | O_CLOEXEC);
}

int OpenUnnamedFile(const std::filesystem::path& dir) {
  return open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
}

long long ReadArchiveAt(int fd, std::uint8_t* out, std::size_t n, std::uint64_t offset) {
  for (;;) {
    const ssize_t got = pread(fd, out, n, static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR) continue;
    return got;
  }
}

}  // namespace tolvex::server
