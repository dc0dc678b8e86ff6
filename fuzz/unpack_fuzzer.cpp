// Feeds arbitrary bytes to Unpack as the received archive, once with each
// path style. A crash, a sanitizer report, a write outside the target
// directory (see MemoryFileSystem) or a temporary file left behind fails.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "archive/zip_archiver.h"
#include "memory_file_system.h"

namespace {

void UnpackWithStyle(const std::uint8_t* data, std::size_t size, const tolvex::PathStyle& style) {
  std::u16string dir = style.separator == u'/' ? u"/u" : u"C:\\u";
  tolvex::fuzz::MemoryFileSystem files(dir, style.separator, 8 << 20);
  files.PutFile(dir + style.separator + u"so.zip", std::vector<std::uint8_t>(data, data + size));

  tolvex::ZipArchiver archiver(files, style);
  archiver.PutUnpackDir(dir);
  archiver.PutUnpackArchiveName(u"so.zip");
  archiver.BeginUnpack();
  archiver.Unpack();
  const bool failed = archiver.GetArchiveError() != 0;
  if (failed == archiver.GetArchiveErrorText().empty()) std::abort();
  for (const auto& path : files.Files()) {
    if (path.find(u"~tolvex") != std::u16string::npos) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  UnpackWithStyle(data, size, tolvex::kPosixPathStyle);
  UnpackWithStyle(data, size, tolvex::kWindowsPathStyle);
  return 0;
}
