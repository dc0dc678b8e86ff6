#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <share.h>
#include <sys/stat.h>
#include <windows.h>

#include <atomic>
#include <string>

#include "archive_fd.h"

namespace tolvex::server {

int OpenArchiveForReading(const std::filesystem::path& file) {
  int fd = -1;
  _wsopen_s(&fd, file.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT, _SH_DENYNO, 0);
  return fd;
}

// _O_TEMPORARY deletes the file when its last descriptor closes.
int OpenUnnamedFile(const std::filesystem::path& dir) {
  static std::atomic<unsigned> made{0};
  const std::wstring name =
      L".packing-" + std::to_wstring(_getpid()) + L"-" + std::to_wstring(++made) + L".tmp";
  int fd = -1;
  _wsopen_s(&fd, (dir / name).c_str(),
            _O_RDWR | _O_BINARY | _O_CREAT | _O_EXCL | _O_TEMPORARY | _O_NOINHERIT, _SH_DENYNO,
            _S_IREAD | _S_IWRITE);
  return fd;
}

long long ReadArchiveAt(int fd, std::uint8_t* out, std::size_t n, std::uint64_t offset) {
  const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD got = 0;
  const DWORD want = n > 0x40000000 ? 0x40000000 : static_cast<DWORD>(n);
  if (!ReadFile(handle, out, want, &got, &at)) {
    return GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
  }
  return got;
}

}  // namespace tolvex::server
