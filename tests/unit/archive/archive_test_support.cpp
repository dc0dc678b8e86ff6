#include "archive_test_support.h"

#include <zlib.h>

#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

#include "component/text.h"

namespace tolvex::test {

namespace fs = std::filesystem;

ScratchDir::ScratchDir() {
  static std::mt19937_64 random{std::random_device{}()};
  path_ = fs::temp_directory_path() / ("tolvex-archive-" + std::to_string(random()));
  fs::create_directories(path_);
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

void WriteBytes(const fs::path& path, const Bytes& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

Bytes ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

std::set<std::string> ListTree(const fs::path& dir) {
  std::set<std::string> names;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    names.insert(entry.path().lexically_relative(dir).generic_string());
  }
  return names;
}

Bytes MixedData(std::size_t size, std::uint32_t seed) {
  static const char* const kWords[] = {"order", "C001", "2026-12-08", "qty",  "12",  "受注",
                                       "ship",  "\r\n", ",",          "item", "0.50"};
  std::mt19937 random(seed);
  Bytes data;
  data.reserve(size);
  while (data.size() < size) {
    if (random() % 4 == 0) {
      for (int i = 0; i < 512; ++i) data.push_back(static_cast<std::uint8_t>(random()));
    } else {
      for (int i = 0; i < 200; ++i) {
        const std::string word = kWords[random() % std::size(kWords)];
        data.insert(data.end(), word.begin(), word.end());
        data.push_back(' ');
      }
    }
  }
  data.resize(size);
  return data;
}

Bytes RawDeflate(const std::string& data) {
  z_stream z{};
  if (deflateInit2(&z, 6, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    throw std::runtime_error("deflateInit2");
  }
  Bytes out(data.size() + data.size() / 100 + 64);
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  const int status = deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  if (status != Z_STREAM_END) throw std::runtime_error("deflate");
  return out;
}

namespace {

void Put16(Bytes& out, std::uint32_t v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}
void Put32(Bytes& out, std::uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}
void PutText(Bytes& out, const std::string& s) { out.insert(out.end(), s.begin(), s.end()); }

}  // namespace

CraftedMember Crafted(std::string name, std::string data, bool deflate) {
  CraftedMember m;
  m.name = std::move(name);
  m.data = std::move(data);
  m.deflate = deflate;
  return m;
}

Bytes CraftZip(const std::vector<CraftedMember>& members) {
  Bytes zip;
  Bytes directory;
  for (const auto& m : members) {
    const Bytes body = m.deflate ? RawDeflate(m.data) : Bytes(m.data.begin(), m.data.end());
    const auto crc = m.crc.value_or(static_cast<std::uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(m.data.data()), static_cast<uInt>(m.data.size()))));
    const auto usize = m.uncompressed_size.value_or(static_cast<std::uint32_t>(m.data.size()));
    const auto csize = m.compressed_size.value_or(static_cast<std::uint32_t>(body.size()));
    const std::uint16_t method = m.method_override != 0xFFFF ? m.method_override
                                 : m.deflate                 ? 8
                                                             : 0;
    const auto offset = static_cast<std::uint32_t>(zip.size());
    const auto local_name = m.local_name.value_or(m.name);

    Put32(zip, 0x04034b50);
    Put16(zip, 20);
    Put16(zip, m.flags);
    Put16(zip, method);
    Put32(zip, 0);
    Put32(zip, crc);
    Put32(zip, csize);
    Put32(zip, usize);
    Put16(zip, static_cast<std::uint32_t>(local_name.size()));
    Put16(zip, 0);
    PutText(zip, local_name);
    zip.insert(zip.end(), body.begin(), body.end());

    Put32(directory, 0x02014b50);
    Put16(directory, m.made_by);
    Put16(directory, 20);
    Put16(directory, m.flags);
    Put16(directory, method);
    Put32(directory, 0);
    Put32(directory, crc);
    Put32(directory, csize);
    Put32(directory, usize);
    Put16(directory, static_cast<std::uint32_t>(m.name.size()));
    Put32(directory, 0);  // extra and comment lengths
    Put32(directory, 0);  // disk, internal attributes
    Put32(directory, m.external_attributes);
    Put32(directory, offset);
    PutText(directory, m.name);
  }
  const auto directory_offset = static_cast<std::uint32_t>(zip.size());
  zip.insert(zip.end(), directory.begin(), directory.end());
  Put32(zip, 0x06054b50);
  Put32(zip, 0);
  Put16(zip, static_cast<std::uint32_t>(members.size()));
  Put16(zip, static_cast<std::uint32_t>(members.size()));
  Put32(zip, static_cast<std::uint32_t>(directory.size()));
  Put32(zip, directory_offset);
  Put16(zip, 0);
  return zip;
}

UnpackResult PackWith(ZipArchiver& archiver, const std::u16string& dir,
                      const std::u16string& archive_name,
                      const std::vector<std::u16string>& files) {
  std::u16string dir_arg = dir;
  archiver.PutPackDir(dir_arg);
  archiver.PutPackArchiveName(archive_name);
  archiver.BeginPack();
  for (auto file : files) archiver.AddPackFile(file);
  archiver.Pack();
  return {archiver.GetArchiveError(), ToUtf8(archiver.GetArchiveErrorText())};
}

UnpackResult UnpackWith(ZipArchiver& archiver, const std::u16string& dir,
                        const std::u16string& archive_name) {
  std::u16string dir_arg = dir;
  archiver.PutUnpackDir(dir_arg);
  archiver.PutUnpackArchiveName(archive_name);
  archiver.BeginUnpack();
  archiver.Unpack();
  return {archiver.GetArchiveError(), ToUtf8(archiver.GetArchiveErrorText())};
}

}  // namespace tolvex::test
