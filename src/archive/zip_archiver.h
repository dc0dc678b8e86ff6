// The zip archiver that stands in for the third-party archive control: the
// jobs' fifteen operations on top of our own streaming zip reader and
// writer, with every file reached through the FileSystem port.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "archive/archive_control.h"
#include "archive/archive_errors.h"
#include "archive/zip_writer.h"
#include "component/file_system.h"
#include "component/path_style.h"

namespace tolvex {

struct ZipArchiverSettings {
  // zlib's level 5 packs our order data smaller than Info-ZIP's `zip -6`
  // and in little more than half its time; zlib's level 6 is barely
  // smaller and slower than Info-ZIP (see bench/archive_bench.cpp).
  int level = 5;
  bool force_zip64 = false;
};

class ZipArchiver : public ArchiveControl {
 public:
  ZipArchiver(FileSystem& files, PathStyle style, ZipArchiverSettings settings = {});

  void PutArchiveMode(std::int32_t mode) override { archive_mode_ = mode; }
  void PutOwnerHwnd(std::int32_t hwnd) override { owner_hwnd_ = hwnd; }
  void PutOptionA(bool value) override { option_a_ = value; }
  void PutOptionB(bool value) override { option_b_ = value; }
  void PutPackDir(std::u16string& dir) override { pack_dir_ = dir; }
  void PutPackArchiveName(const std::u16string& name) override { pack_archive_name_ = name; }
  void PutUnpackDir(std::u16string& dir) override { unpack_dir_ = dir; }
  void PutUnpackArchiveName(const std::u16string& name) override { unpack_archive_name_ = name; }

  // Pack and Unpack report their failures through ArchiveError; calling
  // them, or AddPackFile, without the matching Begin… is refused with
  // ArchiveCallError, as the control refuses a call out of order.
  void BeginPack() override;
  void AddPackFile(std::u16string& file) override;
  void Pack() override;
  void BeginUnpack() override;
  void Unpack() override;

  std::int32_t GetArchiveError() override { return error_; }
  std::u16string GetArchiveErrorText() override { return error_text_; }
  // It keeps no thread's state: the files go through the FileSystem port.
  bool RunsOnAnyThread() const override { return true; }

  // Values the caller handed over. They change nothing in the archiving.
  std::int32_t archive_mode() const { return archive_mode_; }
  std::int32_t owner_hwnd() const { return owner_hwnd_; }
  bool option_a() const { return option_a_; }
  bool option_b() const { return option_b_; }

 private:
  enum class Session { kNone, kPack, kUnpack };

  void StartSession(Session session);
  void Report(ArchiveErrc code, const std::u16string& file);
  void PackFiles();
  void UnpackArchive();
  std::u16string CheckedDirectory(const std::u16string& dir);
  std::u16string FreeTempName(const std::u16string& dir);
  std::u16string MemberPath(const std::u16string& member_name) const;
  void PrepareDirectories(const std::u16string& member_name, bool create);
  zip::ZipWriteOptions WriteOptions() const;

  FileSystem& files_;
  PathStyle style_;
  ZipArchiverSettings settings_;

  std::int32_t archive_mode_ = 0;
  std::int32_t owner_hwnd_ = 0;
  bool option_a_ = false;
  bool option_b_ = false;
  std::u16string pack_dir_;
  std::u16string pack_archive_name_;
  std::u16string unpack_dir_;
  std::u16string unpack_archive_name_;

  Session session_ = Session::kNone;
  std::vector<std::u16string> pack_files_;
  std::int32_t error_ = 0;
  std::u16string error_text_;
};

}  // namespace tolvex
