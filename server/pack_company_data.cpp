#include "pack_company_data.h"

#include <sys/stat.h>

#include <ctime>
#include <stdexcept>

#include "archive/zip_writer.h"
#include "civil_time.h"
#include "component/file_system.h"
#include "component/text.h"

namespace tolvex::server {
namespace {

class MemoryFile : public WritableFile {
 public:
  explicit MemoryFile(Bytes& out) : out_(out) {}
  void Write(const std::uint8_t* data, std::size_t size) override {
    out_.insert(out_.end(), data, data + size);
  }
  bool Sync() override { return false; }  // memory has no disk to reach
  void Close() override {}

 private:
  Bytes& out_;
};

// The member carries the data file's own modification time, as an archiver
// packing it on the client's side would record it.
void SetDosTime(const std::filesystem::path& data, zip::ZipWriteOptions& options) {
#ifdef _WIN32
  struct _stat64 info {};
  if (_wstat64(data.c_str(), &info) != 0) return;
#else
  struct stat info {};
  if (stat(data.c_str(), &info) != 0) return;
#endif
  const std::tm local = LocalTime(info.st_mtime);
  if (local.tm_year < 80) return;
  options.dos_date = static_cast<std::uint16_t>(((local.tm_year - 80) << 9) |
                                                ((local.tm_mon + 1) << 5) | local.tm_mday);
  options.dos_time =
      static_cast<std::uint16_t>((local.tm_hour << 11) | (local.tm_min << 5) | (local.tm_sec / 2));
}

}  // namespace

Bytes PackCompanyData(const std::filesystem::path& data) {
  Bytes archive;
  MemoryFile out(archive);
  PackCompanyDataInto(data, out);
  return archive;
}

void PackCompanyDataInto(const std::filesystem::path& data, WritableFile& out) {
  StdFileSystem files;
  const std::u16string path = FromUtf8(data.u8string());
  const std::u16string name = FromUtf8(data.filename().u8string());
  try {
    auto source = files.OpenForRead(path);
    zip::ZipWriteOptions options;
    SetDosTime(data, options);
    zip::ZipWriter writer(out, u"outgoing archive", options);
    writer.AddFile(name, *source, source->Size());
    writer.Finish();
  } catch (const std::exception& e) {
    throw std::runtime_error("cannot pack " + data.u8string() + ": " + e.what());
  }
}

}  // namespace tolvex::server
