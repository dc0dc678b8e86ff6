#include "archive/zip_extract.h"

#include <zlib.h>

#include <algorithm>
#include <exception>
#include <optional>
#include <system_error>
#include <vector>

#include "archive/archive_errors.h"
#include "archive/inflate_thread.h"
#include "archive/zip_format.h"
#include "archive/zip_names.h"

namespace tolvex::zip {

namespace {

constexpr std::size_t kChunk = 256 * 1024;

// Below this much deflate data, starting a thread costs more than it saves.
constexpr std::uint64_t kInflateBesideFrom = 1024 * 1024;

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
  // zlib may hold output back when the buffer fills even though it has
  // taken all input; only an unfilled buffer means it needs more input.
  bool needs_input = true;
  while (status != Z_STREAM_END) {
    if (needs_input && z->avail_in == 0) {
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
    needs_input = z->avail_out != 0;
  }
  if (z->avail_in != 0 || left != 0) sink.Fail(ArchiveErrc::kSizeMismatch);
}

// The same checks in the same order as Inflate, with zlib on its own
// thread: each failure is the one a piece-by-piece unpack would meet first.
void InflateBeside(ArchiveInput& archive, const ZipMember& member, MemberSink& sink,
                   InflateThread& helper) {
  using Kind = InflateThread::Step::Kind;
  std::uint64_t offset = member.data_offset;
  std::uint64_t left = member.compressed_size;
  // A piece read ahead that cannot be read fails the member only if the
  // stream needs it: an end or a fault before it wins, as it would if the
  // piece had never been read.
  std::exception_ptr read_failure;
  if (left == 0) helper.EndInput();
  while (true) {
    const auto step = helper.Next(left > 0 && !read_failure);
    switch (step.kind) {
      case Kind::kFillInput: {
        const auto n =
            static_cast<std::size_t>(std::min<std::uint64_t>(left, InflateThread::kInputSize));
        try {
          archive.ReadAt(offset, step.data, n);
        } catch (...) {
          read_failure = std::current_exception();
          helper.EndInput();
          break;
        }
        offset += n;
        left -= n;
        helper.Push(step, n);
        if (left == 0) helper.EndInput();
        break;
      }
      case Kind::kOutput:
        sink.Write(step.data, step.size);
        helper.Release(step);
        break;
      case Kind::kFinished:
        if (step.unused != 0 || left != 0) sink.Fail(ArchiveErrc::kSizeMismatch);
        return;
      case Kind::kStarved:
        if (read_failure) std::rethrow_exception(read_failure);
        sink.Fail(ArchiveErrc::kSizeMismatch);  // data ends early
      case Kind::kDamaged:
        sink.Fail(ArchiveErrc::kDamaged);
      case Kind::kFailed:
        std::rethrow_exception(step.failure);
    }
  }
}

// Inflates beside the calling thread when the member is large enough and
// the system gives a thread, piece by piece on the calling thread if not.
void InflateMember(ArchiveInput& archive, const ZipMember& member, MemberSink& sink) {
  if (member.compressed_size >= kInflateBesideFrom) {
    std::optional<InflateThread> helper;
    try {
      helper.emplace();
    } catch (const std::system_error&) {
    }
    if (helper) return InflateBeside(archive, member, sink, *helper);
  }
  Inflate(archive, member, sink);
}

}  // namespace

void ExtractMember(ArchiveInput& archive, const ZipMember& member, WritableFile& out) {
  MemberSink sink(member, out);
  if (member.method == kMethodStored) {
    CopyStored(archive, member, sink);
  } else {
    InflateMember(archive, member, sink);
  }
  sink.Finish();
}

}  // namespace tolvex::zip
