// The descriptors of the large outgoing archives, which differ by
// platform: POSIX open, an unnamed O_TMPFILE and pread; the C runtime's
// descriptors on Windows, with a temporary file deleted on close and
// positional reads through the file's handle.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>

namespace tolvex::server {

// -1 when the file cannot be opened.
int OpenArchiveForReading(const std::filesystem::path& file);
// A file in DIR for reading and writing that disappears with its last
// descriptor; -1 when none can be made.
int OpenUnnamedFile(const std::filesystem::path& dir);
// Up to N bytes at OFFSET, without moving the descriptor's position, so
// that threads share one descriptor; 0 at the end, -1 on an error.
long long ReadArchiveAt(int fd, std::uint8_t* out, std::size_t n, std::uint64_t offset);

}  // namespace tolvex::server
