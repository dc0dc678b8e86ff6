// Feeds arbitrary bytes to Unpack as the received archive, once with each
// path style, on the tests' file system over its in-memory tree. A crash,
// a sanitizer report, a write outside the target directory (see
// FaultyFileSystem) or a temporary file left behind fails.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "archive/zip_archiver.h"
#include "support/faulty_file_system.h"

namespace {

void UnpackWithStyle(const std::uint8_t* data, std::size_t size, const tolvex::PathStyle& style) {
  std::u16string dir = style.separator == u'/' ? u"/u" : u"C:\\u";
  tolvex::testing::FaultyFileSystem files(dir, style.separator);
  // A small disk: a member that claims more than it holds fails early.
  files.room = 8 << 20;
  files.free_space = files.room;
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
