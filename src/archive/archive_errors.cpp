#include "archive/archive_errors.h"

namespace tolvex {

namespace {

struct ErrorEntry {
  ArchiveErrc code;
  const char16_t* cause;
};

constexpr ErrorEntry kErrors[] = {
    {ArchiveErrc::kNone, u""},
    {ArchiveErrc::kNoFileToPack, u"no file to pack"},
    {ArchiveErrc::kBadArchiveName, u"bad archive name"},
    {ArchiveErrc::kBadFileName, u"bad file name"},
    {ArchiveErrc::kFileNotFound, u"file not found"},
    {ArchiveErrc::kReadFailed, u"read error"},
    {ArchiveErrc::kWriteFailed, u"write error"},
    {ArchiveErrc::kFileChanged, u"file changed while packing"},
    {ArchiveErrc::kDirectoryNotFound, u"directory not found"},
    {ArchiveErrc::kArchiveNotFound, u"archive not found"},
    {ArchiveErrc::kNotZip, u"not a zip archive"},
    {ArchiveErrc::kDamaged, u"archive damaged"},
    {ArchiveErrc::kUnsupportedMethod, u"unsupported compression method"},
    {ArchiveErrc::kEncrypted, u"encrypted member"},
    {ArchiveErrc::kUnsafeName, u"unsafe member name"},
    {ArchiveErrc::kLinkMember, u"link member"},
    {ArchiveErrc::kDuplicateName, u"duplicate name"},
    {ArchiveErrc::kCrcMismatch, u"CRC mismatch"},
    {ArchiveErrc::kSizeMismatch, u"size mismatch"},
    {ArchiveErrc::kNoSpace, u"not enough disk space"},
    {ArchiveErrc::kDirectoryTooLarge, u"archive directory too large"},
    {ArchiveErrc::kReplacesArchive, u"member would replace the archive"},
    {ArchiveErrc::kTooManyMembers, u"too many members"},
};

}  // namespace

const char16_t* ArchiveErrorCause(ArchiveErrc code) {
  for (const auto& entry : kErrors) {
    if (entry.code == code) return entry.cause;
  }
  return u"archive error";
}

std::u16string ArchiveErrorMessage(ArchiveErrc code, const std::u16string& file) {
  std::u16string message = ArchiveErrorCause(code);
  if (!file.empty()) message += u": " + file;
  return message;
}

}  // namespace tolvex
