#include "archive/zip_extract.h"

#include <zlib.h>

#include <algorithm>
#include <vector>

#include "archive/archive_errors.h"
#include "archive/zip_format.h"
#include "archive/zip_names.h"

namespace tolvex::zip {

namespace {

constexpr std::size_t kChunk = 256 * 1024;

class InflateStream {
 public:
  InflateStream() {
    if (inflateInit2(&stream_, -MAX_WBITS) != Z_OK) throw std::bad_alloc();
  }
  ~InflateStream() { inflateEnd(&stream_); }
  InflateStream(const InflateStream&) = delete;
  InflateStream& operator=(const InflateStream&) = delete;
  z_stream* get() { return &stream_; }

 private:
  z_stream stream_{};
};

class MemberSink {
 public:
  MemberSink(const ZipMember& member, WritableFile& out) : member_(member), out_(out) {}

  void Write(const std::uint8_t* data, std::size_t length) {
    if (length > member_.uncompressed_size - written_) Fail(ArchiveErrc::kSizeMismatch);
    crc_ = crc32_z(crc_, data, length);
    written_ += length;
    try {
      out_.Write(data, length);
    } catch (const FileError&) {
      Fail(ArchiveErrc::kWriteFailed);
    }
  }

  void Finish() {
    if (written_ != member_.uncompressed_size) Fail(ArchiveErrc::kSizeMismatch);
    if (crc_ != member_.crc) Fail(ArchiveErrc::kCrcMismatch);
  }

  [[noreturn]] void Fail(ArchiveErrc code) const {
    throw ArchiveFailure(code, PrintableName(member_.name));
  }

 private:
  const ZipMember& member_;
  WritableFile& out_;
  std::uint64_t written_ = 0;
  uLong crc_ = crc32_z(0, nullptr, 0);
};

void CopyStored(ArchiveInput& archive, const ZipMember& member, MemberSink& sink) {
  std::vector<std::uint8_t> buffer(kChunk);
  std::uint64_t offset = member.data_offset;
  std::uint64_t left = member.compressed_size;
  while (left > 0) {
    const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(left, kChunk));
    archive.ReadAt(offset, buffer.data(), n);
    sink.Write(buffer.data(), n);
    offset += n;
    left -= n;
  }
}

void Inflate(ArchiveInput& archive, const ZipMember& member, MemberSink& sink) {
  std::vector<std::uint8_t> in(kChunk);
  std::vector<std::uint8_t> out(kChunk);
  InflateStream inflater;
  z_stream* z = inflater.get();
  std::uint64_t offset = member.data_offset;
  std::uint64_t left = member.compressed_size;
  int status = Z_OK;
  while (status != Z_STREAM_END) {
    if (z->avail_in == 0) {
      if (left == 0) sink.Fail(ArchiveErrc::kSizeMismatch);  // data ends early
      const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(left, kChunk));
      archive.ReadAt(offset, in.data(), n);
      offset += n;
      left -= n;
      z->next_in = in.data();
      z->avail_in = static_cast<uInt>(n);
    }
    z->next_out = out.data();
    z->avail_out = static_cast<uInt>(out.size());
    status = inflate(z, Z_NO_FLUSH);
    if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR) {
      if (status == Z_MEM_ERROR) throw std::bad_alloc();
      sink.Fail(ArchiveErrc::kDamaged);
    }
    sink.Write(out.data(), out.size() - z->avail_out);
  }
  if (z->avail_in != 0 || left != 0) sink.Fail(ArchiveErrc::kSizeMismatch);
}

}  // namespace

void ExtractMember(ArchiveInput& archive, const ZipMember& member, WritableFile& out) {
  MemberSink sink(member, out);
  if (member.method == kMethodStored) {
    CopyStored(archive, member, sink);
  } else {
    Inflate(archive, member, sink);
  }
  sink.Finish();
}

}  // namespace tolvex::zip
