#include "archive/zip_directory.h"

#include <algorithm>
#include <numeric>
#include <set>
#include <string_view>

#include "archive/archive_errors.h"
#include "archive/zip_format.h"
#include "archive/zip_names.h"

namespace tolvex::zip {

namespace {

struct DirectoryLocation {
  std::uint64_t entries = 0;
  std::uint64_t offset = 0;
  std::uint64_t size = 0;
};

DirectoryLocation LocateDirectory(ArchiveInput& archive) {
  const auto size = archive.size();
  if (size < kEndSize) throw ArchiveFailure(ArchiveErrc::kNotZip, archive.name());
  const auto tail_length =
      static_cast<std::size_t>(std::min<std::uint64_t>(size, kEndSize + kMaxCommentSize));
  const auto tail_start = size - tail_length;
  const auto tail = archive.ReadAt(tail_start, tail_length);

  std::size_t pos = tail_length - kEndSize + 1;
  bool found = false;
  while (pos-- > 0) {
    if (Get32(&tail[pos]) == kEndSig && pos + kEndSize + Get16(&tail[pos + 20]) <= tail_length) {
      found = true;
      break;
    }
  }
  if (!found) throw ArchiveFailure(ArchiveErrc::kNotZip, archive.name());

  const std::uint8_t* end = &tail[pos];
  const std::uint64_t end_offset = tail_start + pos;
  std::uint64_t disk = Get16(end + 4);
  std::uint64_t directory_disk = Get16(end + 6);
  std::uint64_t entries_here = Get16(end + 8);
  DirectoryLocation location{Get16(end + 10), Get32(end + 16), Get32(end + 12)};
  std::uint64_t directory_end = end_offset;

  if (end_offset >= kZip64LocatorSize) {
    std::uint8_t locator[kZip64LocatorSize];
    archive.ReadAt(end_offset - kZip64LocatorSize, locator, sizeof locator);
    if (Get32(locator) == kZip64LocatorSig) {
      const auto record_offset = Get64(locator + 8);
      if (Get32(locator + 4) != 0 || Get32(locator + 16) != 1) archive.Damaged();
      if (record_offset > end_offset - kZip64LocatorSize ||
          end_offset - kZip64LocatorSize - record_offset < kZip64EndSize) {
        archive.Damaged();
      }
      std::uint8_t record[kZip64EndSize];
      archive.ReadAt(record_offset, record, sizeof record);
      if (Get32(record) != kZip64EndSig) archive.Damaged();
      disk = Get32(record + 16);
      directory_disk = Get32(record + 20);
      entries_here = Get64(record + 24);
      location = {Get64(record + 32), Get64(record + 48), Get64(record + 40)};
      directory_end = record_offset;
    }
  }
  // Split archives are not ours to handle; prepended data would shift
  // every offset, and we do not guess by how much.
  if (disk != 0 || directory_disk != 0 || entries_here != location.entries) archive.Damaged();
  if (location.offset > directory_end || directory_end - location.offset != location.size) {
    archive.Damaged();
  }
  if (location.size > kMaxDirectoryBytes) {
    throw ArchiveFailure(ArchiveErrc::kDirectoryTooLarge, archive.name());
  }
  if (location.entries > location.size / kCentralHeaderSize) archive.Damaged();
  if (location.entries > kMaxMembers) {
    throw ArchiveFailure(ArchiveErrc::kTooManyMembers, archive.name());
  }
  return location;
}

// Fills the fields that the fixed header marks as kept in the ZIP64 extra
// block, in the order the format lays them out.
void ApplyZip64Extra(ArchiveInput& archive, const std::uint8_t* extra, std::size_t length,
                     ZipMember& member, bool need_size, bool need_compressed, bool need_offset) {
  if (!need_size && !need_compressed && !need_offset) return;
  std::size_t pos = 0;
  while (pos + 4 <= length) {
    const auto id = Get16(extra + pos);
    const std::size_t block = Get16(extra + pos + 2);
    if (pos + 4 + block > length) break;
    if (id == kZip64ExtraId) {
      const std::uint8_t* field = extra + pos + 4;
      std::size_t left = block;
      auto take = [&](std::uint64_t& target) {
        if (left < 8) archive.Damaged();
        target = Get64(field);
        field += 8;
        left -= 8;
      };
      if (need_size) take(member.uncompressed_size);
      if (need_compressed) take(member.compressed_size);
      if (need_offset) take(member.local_header_offset);
      return;
    }
    pos += 4 + block;
  }
  archive.Damaged();
}

// Only links are refused: whatever type another member claims (Info-ZIP
// marks data read from a pipe as a FIFO), we write a plain file.
bool IsLink(std::uint16_t made_by, std::uint32_t external_attributes) {
  constexpr std::uint32_t kReparsePoint = 0x400;
  constexpr std::uint32_t kUnixTypeMask = 0xF000;
  constexpr std::uint32_t kUnixSymlink = 0xA000;
  const auto host = made_by >> 8;
  if (host == kHostUnix || host == kHostMacOsX) {
    return ((external_attributes >> 16) & kUnixTypeMask) == kUnixSymlink;
  }
  return host == kHostDos && (external_attributes & kReparsePoint) != 0;
}

struct RawMember {
  ZipMember member;
  std::string raw_name;
  std::uint16_t flags = 0;
};

RawMember ParseCentralHeader(ArchiveInput& archive, const std::vector<std::uint8_t>& directory,
                             std::size_t& pos) {
  if (directory.size() - pos < kCentralHeaderSize) archive.Damaged();
  const std::uint8_t* h = &directory[pos];
  if (Get32(h) != kCentralHeaderSig) archive.Damaged();
  const std::size_t name_length = Get16(h + 28);
  const std::size_t extra_length = Get16(h + 30);
  const std::size_t comment_length = Get16(h + 32);
  if (directory.size() - pos - kCentralHeaderSize < name_length + extra_length + comment_length) {
    archive.Damaged();
  }
  RawMember raw;
  raw.flags = Get16(h + 8);
  raw.raw_name.assign(reinterpret_cast<const char*>(h + kCentralHeaderSize), name_length);
  auto& m = raw.member;
  m.name = DecodeMemberName(raw.raw_name, (raw.flags & kFlagUtf8) != 0);
  m.method = Get16(h + 10);
  m.crc = Get32(h + 16);
  m.compressed_size = Get32(h + 20);
  m.uncompressed_size = Get32(h + 24);
  m.local_header_offset = Get32(h + 42);
  ApplyZip64Extra(archive, h + kCentralHeaderSize + name_length, extra_length, m,
                  m.uncompressed_size == kMax32, m.compressed_size == kMax32,
                  m.local_header_offset == kMax32);
  if (Get16(h + 34) != 0 && Get16(h + 34) != kMax16) archive.Damaged();  // disk number

  const auto display = PrintableName(m.name);
  if ((raw.flags & (kFlagEncrypted | kFlagStrongEncryption | kFlagMaskedDirectory)) != 0 ||
      m.method == kMethodAes) {
    throw ArchiveFailure(ArchiveErrc::kEncrypted, display);
  }
  if (m.method != kMethodStored && m.method != kMethodDeflated) {
    throw ArchiveFailure(ArchiveErrc::kUnsupportedMethod, display);
  }
  if (IsLink(Get16(h + 4), Get32(h + 38))) {
    throw ArchiveFailure(ArchiveErrc::kLinkMember, display);
  }
  CheckMemberName(m.name);
  m.is_directory = IsDirectoryName(m.name);
  if (m.is_directory && m.uncompressed_size != 0) archive.Damaged();
  if (m.method == kMethodStored && m.compressed_size != m.uncompressed_size) {
    throw ArchiveFailure(ArchiveErrc::kSizeMismatch, display);
  }
  if (m.method == kMethodDeflated &&
      m.uncompressed_size / kMaxDeflateRatio > m.compressed_size + 1) {
    throw ArchiveFailure(ArchiveErrc::kSizeMismatch, display);
  }
  pos += kCentralHeaderSize + name_length + extra_length + comment_length;
  return raw;
}

// "a" as a file and "a/b" as a member cannot both be written.
void CheckNameClashes(const std::vector<RawMember>& members) {
  std::set<std::u16string> all_keys;
  std::set<std::u16string> file_keys;
  for (const auto& raw : members) {
    const auto key = NameKey(raw.member.name);
    if (!all_keys.insert(key).second) {
      throw ArchiveFailure(ArchiveErrc::kDuplicateName, PrintableName(raw.member.name));
    }
    if (!raw.member.is_directory) file_keys.insert(key);
  }
  for (const auto& raw : members) {
    const auto key = NameKey(raw.member.name);
    for (auto cut = key.find(u'/'); cut != std::u16string::npos; cut = key.find(u'/', cut + 1)) {
      if (file_keys.count(key.substr(0, cut)) != 0) {
        throw ArchiveFailure(ArchiveErrc::kDuplicateName, PrintableName(raw.member.name));
      }
    }
  }
}

// Each member's data must lie between its own local header and the next
// member, before the directory: overlapping members are the classic way to
// make a small archive inflate to an enormous size.
void PlaceMemberData(ArchiveInput& archive, std::vector<RawMember>& members,
                     std::uint64_t directory_offset) {
  std::vector<std::size_t> order(members.size());
  std::iota(order.begin(), order.end(), 0);
  std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return members[a].member.local_header_offset < members[b].member.local_header_offset;
  });
  std::uint64_t previous_end = 0;
  for (auto index : order) {
    auto& raw = members[index];
    auto& m = raw.member;
    if (m.local_header_offset < previous_end || m.local_header_offset > directory_offset ||
        directory_offset - m.local_header_offset < kLocalHeaderSize) {
      archive.Damaged();
    }
    std::uint8_t header[kLocalHeaderSize];
    archive.ReadAt(m.local_header_offset, header, sizeof header);
    const std::size_t name_length = Get16(header + 26);
    const std::size_t extra_length = Get16(header + 28);
    if (Get32(header) != kLocalHeaderSig || Get16(header + 8) != m.method ||
        ((Get16(header + 6) ^ raw.flags) & kFlagEncrypted) != 0 ||
        name_length != raw.raw_name.size()) {
      archive.Damaged();
    }
    const auto local_name = archive.ReadAt(m.local_header_offset + kLocalHeaderSize, name_length);
    if (!std::equal(local_name.begin(), local_name.end(), raw.raw_name.begin(),
                    [](std::uint8_t a, char b) { return a == static_cast<std::uint8_t>(b); })) {
      archive.Damaged();
    }
    m.data_offset = m.local_header_offset + kLocalHeaderSize + name_length + extra_length;
    if (m.data_offset > directory_offset || directory_offset - m.data_offset < m.compressed_size) {
      archive.Damaged();
    }
    previous_end = m.data_offset + m.compressed_size;
  }
}

}  // namespace

std::vector<ZipMember> ReadZipDirectory(ArchiveInput& archive) {
  const auto location = LocateDirectory(archive);
  const auto directory = archive.ReadAt(location.offset, static_cast<std::size_t>(location.size));
  std::vector<RawMember> raw_members;
  raw_members.reserve(static_cast<std::size_t>(location.entries));
  std::size_t pos = 0;
  for (std::uint64_t i = 0; i < location.entries; ++i) {
    raw_members.push_back(ParseCentralHeader(archive, directory, pos));
  }
  if (pos != directory.size()) archive.Damaged();
  CheckNameClashes(raw_members);
  PlaceMemberData(archive, raw_members, location.offset);

  std::vector<ZipMember> members;
  members.reserve(raw_members.size());
  for (auto& raw : raw_members) members.push_back(std::move(raw.member));
  return members;
}

}  // namespace tolvex::zip
