#include "archive/zip_writer.h"

#include <zlib.h>

#include <algorithm>
#include <new>
#include <optional>
#include <system_error>

#include "archive/archive_errors.h"
#include "archive/block_deflater.h"
#include "archive/zip_format.h"
#include "component/text.h"

namespace tolvex::zip {

namespace {

constexpr std::size_t kChunk = 256 * 1024;
// From this size on a member is deflated in blocks on the PC's cores.
constexpr std::uint64_t kBlocksFrom = 2 * BlockDeflater::kBlockSize;

// zlib's own bound for default settings, in 64 bits (uLong is 32 bits on
// Windows).
std::uint64_t DeflateBound(std::uint64_t size) {
  return size + (size >> 12) + (size >> 14) + (size >> 25) + 64;
}

bool IsAscii(const std::vector<std::uint8_t>& bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b < 0x80; });
}

std::uint32_t Clamp32(std::uint64_t v, bool sentinel) {
  return sentinel ? kMax32 : static_cast<std::uint32_t>(v);
}

}  // namespace

ZipWriter::ZipWriter(WritableFile& out, std::u16string archive_name, ZipWriteOptions options)
    : out_(out), archive_name_(std::move(archive_name)), options_(options) {}

void ZipWriter::Emit(const std::uint8_t* data, std::size_t length) {
  try {
    out_.Write(data, length);
  } catch (const FileError&) {
    throw ArchiveFailure(ArchiveErrc::kWriteFailed, archive_name_);
  }
  position_ += length;
}

void ZipWriter::AddFile(const std::u16string& name, ReadableFile& source,
                        std::uint64_t expected_size) {
  Entry entry;
  const auto utf8 = ToUtf8(name);
  entry.name.assign(utf8.begin(), utf8.end());
  entry.flags = IsAscii(entry.name) ? 0 : kFlagUtf8;
  entry.offset = position_;

  if (expected_size == 0 && !options_.force_zip64) {
    // An empty file is stored, as Info-ZIP does: nothing follows the header.
    entry.method = kMethodStored;
    entry.version_needed = kVersionDeflate;
    std::uint8_t probe = 0;
    try {
      if (source.Read(&probe, 1) != 0) throw ArchiveFailure(ArchiveErrc::kFileChanged, name);
    } catch (const FileError&) {
      throw ArchiveFailure(ArchiveErrc::kReadFailed, name);
    }
    WriteLocalHeader(entry, false);
  } else {
    entry.method = kMethodDeflated;
    entry.flags |= kFlagDataDescriptor;
    const bool zip64 = options_.force_zip64 || DeflateBound(expected_size) >= kMax32;
    entry.version_needed = zip64 ? kVersionZip64 : kVersionDeflate;
    WriteLocalHeader(entry, zip64);
    Deflate(entry, source, expected_size, name);

    std::vector<std::uint8_t> descriptor;
    RecordBuilder d(descriptor);
    d.U32(kDataDescriptorSig).U32(entry.crc);
    if (zip64) {
      d.U64(entry.compressed_size).U64(entry.uncompressed_size);
    } else {
      d.U32(static_cast<std::uint32_t>(entry.compressed_size))
          .U32(static_cast<std::uint32_t>(entry.uncompressed_size));
    }
    Emit(descriptor);
  }
  entries_.push_back(std::move(entry));
}

void ZipWriter::WriteLocalHeader(const Entry& entry, bool zip64) {
  std::vector<std::uint8_t> header;
  RecordBuilder h(header);
  h.U32(kLocalHeaderSig)
      .U16(entry.version_needed)
      .U16(entry.flags)
      .U16(entry.method)
      .U16(options_.dos_time)
      .U16(options_.dos_date)
      .U32(0)  // CRC and sizes follow in the data descriptor
      .U32(zip64 ? kMax32 : 0)
      .U32(zip64 ? kMax32 : 0)
      .U16(static_cast<std::uint16_t>(entry.name.size()))
      .U16(zip64 ? 20 : 0)
      .Bytes(entry.name);
  if (zip64) h.U16(kZip64ExtraId).U16(16).U64(0).U64(0);
  Emit(header);
}

void ZipWriter::Deflate(Entry& entry, ReadableFile& source, std::uint64_t expected_size,
                        const std::u16string& name) {
  if (expected_size >= kBlocksFrom) {
    std::optional<BlockDeflater> blocks;
    try {
      blocks.emplace(options_.level, options_.deflate_helpers > 0
                                         ? options_.deflate_helpers
                                         : BlockDeflater::HelpersForThisMachine());
    } catch (const std::system_error&) {
    }
    if (blocks) return DeflateInBlocks(entry, source, expected_size, name, *blocks);
  }
  std::vector<std::uint8_t> in(kChunk);
  std::vector<std::uint8_t> out(kChunk);
  DeflateStream deflater(options_.level);
  z_stream* z = deflater.get();
  uLong crc = crc32_z(0, nullptr, 0);
  int flush = Z_NO_FLUSH;
  while (flush != Z_FINISH) {
    const std::size_t got = ReadMember(entry, source, expected_size, name, in.data(), in.size());
    if (got == 0) flush = Z_FINISH;
    crc = crc32_z(crc, in.data(), got);
    z->next_in = in.data();
    z->avail_in = static_cast<uInt>(got);
    int status = Z_OK;
    do {
      z->next_out = out.data();
      z->avail_out = static_cast<uInt>(out.size());
      status = deflate(z, flush);
      const auto produced = out.size() - z->avail_out;
      Emit(out.data(), produced);
      entry.compressed_size += produced;
    } while (z->avail_out == 0 || (flush == Z_FINISH && status != Z_STREAM_END));
  }
  entry.crc = static_cast<std::uint32_t>(crc);
}

std::size_t ZipWriter::ReadMember(Entry& entry, ReadableFile& source, std::uint64_t expected_size,
                                  const std::u16string& name, std::uint8_t* into,
                                  std::size_t size) {
  std::size_t got = 0;
  try {
    got = source.Read(into, size);
  } catch (const FileError&) {
    throw ArchiveFailure(ArchiveErrc::kReadFailed, name);
  }
  entry.uncompressed_size += got;
  // A file that grows while we read it could outrun the record sizes
  // chosen for its header; a file that shrinks is as unusable.
  if (entry.uncompressed_size > expected_size ||
      (got == 0 && entry.uncompressed_size != expected_size)) {
    throw ArchiveFailure(ArchiveErrc::kFileChanged, name);
  }
  return got;
}

void ZipWriter::DeflateInBlocks(Entry& entry, ReadableFile& source, std::uint64_t expected_size,
                                const std::u16string& name, BlockDeflater& blocks) {
  uLong crc = crc32_z(0, nullptr, 0);
  const auto write_oldest = [&] {
    const auto deflated = blocks.Take();
    Emit(deflated.data(), deflated.size());
    entry.compressed_size += deflated.size();
  };
  for (bool last = false; !last;) {
    std::vector<std::uint8_t> block(BlockDeflater::kBlockSize);
    std::size_t filled = 0;
    while (filled < block.size()) {
      const std::size_t got = ReadMember(entry, source, expected_size, name, block.data() + filled,
                                         block.size() - filled);
      if (got == 0) {
        last = true;
        break;
      }
      filled += got;
    }
    block.resize(filled);
    crc = crc32_z(crc, block.data(), block.size());
    while (blocks.InHand() >= blocks.Capacity()) write_oldest();
    blocks.Submit(std::move(block), last);
  }
  while (blocks.InHand() > 0) write_oldest();
  entry.crc = static_cast<std::uint32_t>(crc);
}

void ZipWriter::WriteCentralHeader(const Entry& entry) {
  const bool force = options_.force_zip64;
  const bool big_size = force || entry.uncompressed_size >= kMax32;
  const bool big_compressed = force || entry.compressed_size >= kMax32;
  const bool big_offset = force || entry.offset >= kMax32;
  const int extra_fields = big_size + big_compressed + big_offset;
  const auto version = extra_fields > 0 ? kVersionZip64 : entry.version_needed;

  std::vector<std::uint8_t> header;
  RecordBuilder h(header);
  h.U32(kCentralHeaderSig)
      .U16(static_cast<std::uint16_t>((kHostDos << 8) | version))
      .U16(version)
      .U16(entry.flags)
      .U16(entry.method)
      .U16(options_.dos_time)
      .U16(options_.dos_date)
      .U32(entry.crc)
      .U32(Clamp32(entry.compressed_size, big_compressed))
      .U32(Clamp32(entry.uncompressed_size, big_size))
      .U16(static_cast<std::uint16_t>(entry.name.size()))
      .U16(static_cast<std::uint16_t>(extra_fields > 0 ? 4 + 8 * extra_fields : 0))
      .U16(0)  // comment
      .U16(0)  // disk
      .U16(0)  // internal attributes
      .U32(0)  // external attributes
      .U32(Clamp32(entry.offset, big_offset))
      .Bytes(entry.name);
  if (extra_fields > 0) {
    h.U16(kZip64ExtraId).U16(static_cast<std::uint16_t>(8 * extra_fields));
    if (big_size) h.U64(entry.uncompressed_size);
    if (big_compressed) h.U64(entry.compressed_size);
    if (big_offset) h.U64(entry.offset);
  }
  Emit(header);
}

void ZipWriter::Finish() {
  const auto directory_offset = position_;
  for (const auto& entry : entries_) WriteCentralHeader(entry);
  const auto directory_size = position_ - directory_offset;
  const std::uint64_t count = entries_.size();

  const bool zip64 = options_.force_zip64 || count >= kMax16 || directory_offset >= kMax32 ||
                     directory_size >= kMax32;
  std::vector<std::uint8_t> tail;
  RecordBuilder t(tail);
  if (zip64) {
    const auto record_offset = position_;
    t.U32(kZip64EndSig)
        .U64(kZip64EndSize - 12)
        .U16(kVersionZip64)
        .U16(kVersionZip64)
        .U32(0)
        .U32(0)
        .U64(count)
        .U64(count)
        .U64(directory_size)
        .U64(directory_offset);
    t.U32(kZip64LocatorSig).U32(0).U64(record_offset).U32(1);
  }
  const auto count16 = static_cast<std::uint16_t>(std::min<std::uint64_t>(count, kMax16));
  t.U32(kEndSig)
      .U16(0)
      .U16(0)
      .U16(count16)
      .U16(count16)
      .U32(static_cast<std::uint32_t>(std::min<std::uint64_t>(directory_size, kMax32)))
      .U32(static_cast<std::uint32_t>(std::min<std::uint64_t>(directory_offset, kMax32)))
      .U16(0);
  Emit(tail);
}

}  // namespace tolvex::zip
