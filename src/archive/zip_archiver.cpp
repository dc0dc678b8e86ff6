#include "archive/zip_archiver.h"

#include <algorithm>
#include <ctime>
#include <set>

#include "archive/archive_input.h"
#include "archive/zip_directory.h"
#include "archive/zip_extract.h"
#include "archive/zip_names.h"
#include "component/text.h"

namespace tolvex {

namespace {

constexpr std::uint64_t kFreeSpaceMargin = 64ull << 20;

// Removes a temporary file unless it was renamed into place.
class TempFileGuard {
 public:
  TempFileGuard(FileSystem& files, std::u16string path) : files_(files), path_(std::move(path)) {}
  ~TempFileGuard() {
    if (armed_) {
      try {
        files_.DeleteFile(path_);
      } catch (...) {
        // Nothing more to do: the failure that got us here is reported.
      }
    }
  }
  TempFileGuard(const TempFileGuard&) = delete;
  TempFileGuard& operator=(const TempFileGuard&) = delete;
  void Release() { armed_ = false; }

 private:
  FileSystem& files_;
  std::u16string path_;
  bool armed_ = true;
};

bool IsBareName(const std::u16string& name, const PathStyle& style) {
  return !name.empty() &&
         name.find_first_of(std::u16string{u'/', style.separator}) == std::u16string::npos;
}

std::unique_ptr<WritableFile> CreateOutput(FileSystem& files, const std::u16string& path,
                                           const std::u16string& reported_name) {
  try {
    // Into a directory of the call's own: nothing there may be written
    // through.
    return files.CreateNew(path);
  } catch (const FileError&) {
    throw ArchiveFailure(ArchiveErrc::kWriteFailed, reported_name);
  }
}

// An extracted file is synced before it is closed: it is the data the
// caller's file is replaced with, and the replace must not outrun it.
void CloseOutput(WritableFile& out, const std::u16string& reported_name, bool sync) {
  try {
    if (sync) out.Sync();
    out.Close();
  } catch (const FileError&) {
    throw ArchiveFailure(ArchiveErrc::kWriteFailed, reported_name);
  }
}

void MoveIntoPlace(FileSystem& files, const std::u16string& from, const std::u16string& to,
                   const std::u16string& reported_name) {
  try {
    files.RenameReplacing(from, to);
  } catch (const FileError&) {
    throw ArchiveFailure(ArchiveErrc::kWriteFailed, reported_name);
  }
}

}  // namespace

ZipArchiver::ZipArchiver(FileSystem& files, PathStyle style, ZipArchiverSettings settings)
    : files_(files), style_(style), settings_(settings) {}

void ZipArchiver::StartSession(Session session) {
  session_ = session;
  pack_files_.clear();
  error_ = 0;
  error_text_.clear();
}

void ZipArchiver::Report(ArchiveErrc code, const std::u16string& file) {
  error_ = static_cast<std::int32_t>(code);
  error_text_ = ArchiveErrorMessage(code, file);
}

void ZipArchiver::BeginPack() { StartSession(Session::kPack); }

void ZipArchiver::AddPackFile(std::u16string& file) {
  if (session_ != Session::kPack) throw ArchiveCallError("AddPackFile without BeginPack");
  pack_files_.push_back(file);
}

void ZipArchiver::Pack() {
  if (session_ != Session::kPack) throw ArchiveCallError("Pack without BeginPack");
  try {
    PackFiles();
  } catch (const ArchiveFailure& failure) {
    Report(failure.code(), failure.file());
  } catch (const FileError& error) {
    Report(ArchiveErrc::kWriteFailed, FromUtf8(error.what()));
  }
  session_ = Session::kNone;
  pack_files_.clear();
}

void ZipArchiver::BeginUnpack() { StartSession(Session::kUnpack); }

void ZipArchiver::Unpack() {
  if (session_ != Session::kUnpack) throw ArchiveCallError("Unpack without BeginUnpack");
  try {
    UnpackArchive();
  } catch (const ArchiveFailure& failure) {
    Report(failure.code(), failure.file());
  } catch (const FileError& error) {
    Report(ArchiveErrc::kWriteFailed, FromUtf8(error.what()));
  }
  session_ = Session::kNone;
}

// The directory as given, once it is known to exist. An empty directory is
// where the path style puts bare names: the current directory on POSIX,
// the drive's root on Windows.
std::u16string ZipArchiver::CheckedDirectory(const std::u16string& dir) {
  std::u16string probe = dir;
  if (probe.empty())
    probe = style_.empty_dir_is_current ? u"." : std::u16string(1, style_.separator);
  if (!files_.IsDirectory(probe)) throw ArchiveFailure(ArchiveErrc::kDirectoryNotFound, dir);
  return probe;
}

std::u16string ZipArchiver::FreeTempName(const std::u16string& dir) {
  for (int n = 0;; ++n) {
    auto path = JoinPath(style_, dir, u"~tolvex" + FromUtf8(std::to_string(n)) + u".tmp");
    if (!files_.Exists(path)) return path;
  }
}

zip::ZipWriteOptions ZipArchiver::WriteOptions() const {
  zip::ZipWriteOptions options;
  options.level = settings_.level;
  options.force_zip64 = settings_.force_zip64;
  const std::time_t now = std::time(nullptr);
  if (const std::tm* local = std::localtime(&now); local != nullptr && local->tm_year >= 80) {
    options.dos_date = static_cast<std::uint16_t>(((local->tm_year - 80) << 9) |
                                                  ((local->tm_mon + 1) << 5) | local->tm_mday);
    options.dos_time = static_cast<std::uint16_t>((local->tm_hour << 11) | (local->tm_min << 5) |
                                                  (local->tm_sec / 2));
  }
  return options;
}

void ZipArchiver::PackFiles() {
  if (!IsBareName(pack_archive_name_, style_)) {
    throw ArchiveFailure(ArchiveErrc::kBadArchiveName, pack_archive_name_);
  }
  if (pack_files_.empty()) throw ArchiveFailure(ArchiveErrc::kNoFileToPack, u"");
  CheckedDirectory(pack_dir_);

  std::set<std::u16string> stored_keys;
  for (const auto& file : pack_files_) {
    const auto bare = zip::BareName(file, style_);
    if (bare.empty()) throw ArchiveFailure(ArchiveErrc::kBadFileName, file);
    if (!stored_keys.insert(zip::NameKey(bare)).second) {
      throw ArchiveFailure(ArchiveErrc::kDuplicateName, bare);
    }
    const auto path = JoinPath(style_, pack_dir_, file);
    if (!files_.Exists(path) || files_.IsDirectory(path)) {
      throw ArchiveFailure(ArchiveErrc::kFileNotFound, file);
    }
  }

  const auto temp = FreeTempName(pack_dir_);
  TempFileGuard guard(files_, temp);
  auto out = CreateOutput(files_, temp, pack_archive_name_);
  zip::ZipWriter writer(*out, pack_archive_name_, WriteOptions());
  for (const auto& file : pack_files_) {
    std::unique_ptr<ReadableFile> source;
    std::uint64_t size = 0;
    try {
      source = files_.OpenForRead(JoinPath(style_, pack_dir_, file));
      size = source->Size();
    } catch (const FileError&) {
      throw ArchiveFailure(ArchiveErrc::kReadFailed, file);
    }
    writer.AddFile(zip::BareName(file, style_), *source, size);
  }
  writer.Finish();
  CloseOutput(*out, pack_archive_name_, false);
  MoveIntoPlace(files_, temp, JoinPath(style_, pack_dir_, pack_archive_name_), pack_archive_name_);
  guard.Release();
}

std::u16string ZipArchiver::MemberPath(const std::u16string& member_name) const {
  std::u16string relative = member_name;
  if (zip::IsDirectoryName(relative)) relative.pop_back();
  for (auto& c : relative) {
    if (c == u'/') c = style_.separator;
  }
  return JoinPath(style_, unpack_dir_, relative);
}

// Walks the directories that lead to a member (the member itself for a
// directory member). Existing ones must be real directories, never links
// that could lead out of the target; missing ones are made when `create`.
void ZipArchiver::PrepareDirectories(const std::u16string& member_name, bool create) {
  const bool is_directory = zip::IsDirectoryName(member_name);
  std::u16string_view name(member_name);
  if (is_directory) name.remove_suffix(1);
  for (std::size_t cut = name.find(u'/');; cut = name.find(u'/', cut + 1)) {
    if (cut == std::u16string_view::npos && !is_directory) break;
    const auto level = std::u16string(name.substr(0, cut)) + u"/";
    const auto path = MemberPath(level);
    const auto shown = zip::PrintableName(member_name);
    if (files_.IsLink(path)) throw ArchiveFailure(ArchiveErrc::kLinkMember, shown);
    if (!files_.IsDirectory(path)) {
      if (files_.Exists(path)) throw ArchiveFailure(ArchiveErrc::kWriteFailed, shown);
      if (create) {
        try {
          files_.CreateDirectory(path);
        } catch (const FileError&) {
          throw ArchiveFailure(ArchiveErrc::kWriteFailed, shown);
        }
      }
    }
    if (cut == std::u16string_view::npos) break;
  }
}

void ZipArchiver::UnpackArchive() {
  if (!IsBareName(unpack_archive_name_, style_)) {
    throw ArchiveFailure(ArchiveErrc::kBadArchiveName, unpack_archive_name_);
  }
  const auto checked_dir = CheckedDirectory(unpack_dir_);
  const auto archive_path = JoinPath(style_, unpack_dir_, unpack_archive_name_);
  if (!files_.Exists(archive_path) || files_.IsDirectory(archive_path)) {
    throw ArchiveFailure(ArchiveErrc::kArchiveNotFound, unpack_archive_name_);
  }
  std::unique_ptr<ReadableFile> file;
  try {
    file = files_.OpenForRead(archive_path);
  } catch (const FileError&) {
    throw ArchiveFailure(ArchiveErrc::kReadFailed, unpack_archive_name_);
  }
  zip::ArchiveInput archive(*file, unpack_archive_name_);
  const auto members = zip::ReadZipDirectory(archive);

  // Everything that can be refused is refused before the first write.
  std::uint64_t total = 0;
  const auto archive_key = zip::NameKey(unpack_archive_name_);
  for (const auto& member : members) {
    const auto shown = zip::PrintableName(member.name);
    if (zip::NameKey(member.name) == archive_key) {
      throw ArchiveFailure(ArchiveErrc::kReplacesArchive, shown);
    }
    if (member.uncompressed_size > UINT64_MAX - total) {
      throw ArchiveFailure(ArchiveErrc::kNoSpace, unpack_archive_name_);
    }
    total += member.uncompressed_size;
    PrepareDirectories(member.name, false);
    if (!member.is_directory && files_.IsDirectory(MemberPath(member.name))) {
      throw ArchiveFailure(ArchiveErrc::kWriteFailed, shown);
    }
  }
  // The unpack never takes the last of the space: the system and the
  // caller's other programs keep a margin of a tenth of what is free, up to
  // kFreeSpaceMargin.
  const auto free_space = files_.FreeSpace(checked_dir);
  if (free_space &&
      total > *free_space - std::min<std::uint64_t>(*free_space / 10, kFreeSpaceMargin)) {
    throw ArchiveFailure(ArchiveErrc::kNoSpace, unpack_archive_name_);
  }

  for (const auto& member : members) {
    PrepareDirectories(member.name, true);
    if (member.is_directory) continue;
    const auto shown = zip::PrintableName(member.name);
    const auto target = MemberPath(member.name);
    const auto slash = member.name.rfind(u'/');
    const auto target_dir =
        slash == std::u16string::npos ? unpack_dir_ : MemberPath(member.name.substr(0, slash + 1));
    const auto temp = FreeTempName(target_dir);
    TempFileGuard guard(files_, temp);
    auto out = CreateOutput(files_, temp, shown);
    zip::ExtractMember(archive, member, *out);
    CloseOutput(*out, shown, true);
    out.reset();
    MoveIntoPlace(files_, temp, target, shown);
    guard.Release();
  }
}

}  // namespace tolvex
