#include "pack_company_data.h"

#include <zlib.h>

#include <fstream>
#include <iterator>
#include <limits>
#include <stdexcept>
#include <string>

namespace tolvex::server {
namespace {

void Put16(Bytes& out, std::uint32_t v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}
void Put32(Bytes& out, std::uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

bool IsAscii(const std::string& s) {
  for (const unsigned char c : s) {
    if (c >= 0x80) return false;
  }
  return true;
}

}  // namespace

// One stored (uncompressed) entry: small, and readable by every unzip.
Bytes PackCompanyData(const std::filesystem::path& data) {
  std::ifstream in(data, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + data.string());
  const Bytes content(std::istreambuf_iterator<char>(in), {});
  const std::string name = data.filename().string();
  if (content.size() > 0xFFFF0000u || name.size() > 0xFFFF) {
    throw std::runtime_error(data.string() + " is too large for a zip without zip64");
  }
  const auto size = static_cast<std::uint32_t>(content.size());
  const auto crc = static_cast<std::uint32_t>(
      crc32(crc32(0L, Z_NULL, 0), content.data(), static_cast<uInt>(content.size())));
  const std::uint32_t flags = IsAscii(name) ? 0 : 0x0800;  // bit 11: the name is UTF-8
  const std::uint32_t dos_time = 0, dos_date = (1 << 5) | 1 | ((2000 - 1980) << 9);

  Bytes out;
  out.reserve(content.size() + 2 * name.size() + 128);
  Put32(out, 0x04034b50);  // local file header
  Put16(out, 20);
  Put16(out, flags);
  Put16(out, 0);  // stored
  Put16(out, dos_time);
  Put16(out, dos_date);
  Put32(out, crc);
  Put32(out, size);
  Put32(out, size);
  Put16(out, static_cast<std::uint32_t>(name.size()));
  Put16(out, 0);
  out.insert(out.end(), name.begin(), name.end());
  out.insert(out.end(), content.begin(), content.end());

  const auto central_offset = static_cast<std::uint32_t>(out.size());
  Put32(out, 0x02014b50);  // central directory entry
  Put16(out, 20);
  Put16(out, 20);
  Put16(out, flags);
  Put16(out, 0);
  Put16(out, dos_time);
  Put16(out, dos_date);
  Put32(out, crc);
  Put32(out, size);
  Put32(out, size);
  Put16(out, static_cast<std::uint32_t>(name.size()));
  Put16(out, 0);  // extra
  Put16(out, 0);  // comment
  Put16(out, 0);  // disk
  Put16(out, 0);  // internal attributes
  Put32(out, 0);  // external attributes
  Put32(out, 0);  // local header offset
  out.insert(out.end(), name.begin(), name.end());
  const auto central_size = static_cast<std::uint32_t>(out.size()) - central_offset;

  Put32(out, 0x06054b50);  // end of central directory
  Put16(out, 0);
  Put16(out, 0);
  Put16(out, 1);
  Put16(out, 1);
  Put32(out, central_size);
  Put32(out, central_offset);
  Put16(out, 0);
  return out;
}

}  // namespace tolvex::server
