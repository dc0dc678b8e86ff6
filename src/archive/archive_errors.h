// The archiver's own failures: one table of numbers and short texts, so the
// text a job quotes always matches the number it tested. A failure is
// carried as ArchiveFailure from deep inside the zip code up to the
// operation that reports it through ArchiveError/ArchiveErrorText.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace tolvex {

enum class ArchiveErrc : std::int32_t {
  kNone = 0,
  kNoFileToPack = 1,
  kBadArchiveName = 2,
  kBadFileName = 3,
  kFileNotFound = 4,
  kReadFailed = 5,
  kWriteFailed = 6,
  kFileChanged = 7,
  kDirectoryNotFound = 8,
  kArchiveNotFound = 9,
  kNotZip = 10,
  kDamaged = 11,
  kUnsupportedMethod = 12,
  kEncrypted = 13,
  kUnsafeName = 14,
  kLinkMember = 15,
  kDuplicateName = 16,
  kCrcMismatch = 17,
  kSizeMismatch = 18,
  kNoSpace = 19,
  kDirectoryTooLarge = 20,
  kReplacesArchive = 21,
  kTooManyMembers = 22,
};

// The short English cause, e.g. "CRC mismatch".
const char16_t* ArchiveErrorCause(ArchiveErrc code);

// "<cause>: <file>", or the cause alone when no file is involved.
std::u16string ArchiveErrorMessage(ArchiveErrc code, const std::u16string& file);

class ArchiveFailure : public std::exception {
 public:
  ArchiveFailure(ArchiveErrc code, std::u16string file) : code_(code), file_(std::move(file)) {}
  ArchiveErrc code() const noexcept { return code_; }
  const std::u16string& file() const noexcept { return file_; }
  const char* what() const noexcept override { return "archive failure"; }

 private:
  ArchiveErrc code_;
  std::u16string file_;
};

}  // namespace tolvex
