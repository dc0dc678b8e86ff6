// A loaded component wired to fakes: real files in a temporary directory,
// a synchronous fake window, a scripted server and a scripted control.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "component/text.h"
#include "component/tolvex.h"
#include "dialog/frm_tolvex.h"
#include "support/fake_archive_control.h"
#include "support/fake_dialog_window.h"
#include "support/fake_http_session.h"
#include "support/recording_trace_sink.h"

namespace tolvex::testing {

// Real files, with the steps that make a replacement durable noted by the
// names of the files involved, on a disk that can be made to fill up: a
// write past `room` bytes fails as a full disk does.
class NotingFileSystem : public StdFileSystem {
 public:
  void CopyPermissions(const std::u16string& from, const std::u16string& to) override {
    notes.push_back("permissions " + Name(from) + " -> " + Name(to));
    StdFileSystem::CopyPermissions(from, to);
  }
  std::string ReplaceDurably(const std::u16string& from, const std::u16string& to) override {
    notes.push_back("replace " + Name(from) + " -> " + Name(to));
    if (refuse_replace) refuse_replace(++replace_attempts);
    StdFileSystem::ReplaceDurably(from, to);
    return replace_note;
  }
  void RemoveTree(const std::u16string& path) noexcept override {
    if (!stuck_trees) StdFileSystem::RemoveTree(path);
  }
  void CreatePrivateDirectory(const std::u16string& path) override {
    if (refuse_directories) throw *refuse_directories;
    StdFileSystem::CreatePrivateDirectory(path);
  }
  void RenameNew(const std::u16string& from, const std::u16string& to) override {
    if (refuse_rename_new) throw *refuse_rename_new;
    StdFileSystem::RenameNew(from, to);
  }
  std::unique_ptr<WritableFile> OpenForWrite(const std::u16string& path) override {
    class Filling : public WritableFile {
     public:
      Filling(std::unique_ptr<WritableFile> file, std::u16string path, std::uint64_t& room)
          : file_(std::move(file)), path_(std::move(path)), room_(room) {}
      void Write(const std::uint8_t* data, std::size_t size) override {
        if (size > room_) {
          throw FileError("write " + ToUtf8(path_) + ": No space left on device",
                          FileFault::kDiskFull, "No space left on device");
        }
        room_ -= size;
        file_->Write(data, size);
      }
      bool Sync() override { return file_->Sync(); }
      void Close() override { file_->Close(); }

     private:
      std::unique_ptr<WritableFile> file_;
      std::u16string path_;
      std::uint64_t& room_;
    };
    return std::make_unique<Filling>(StdFileSystem::OpenForWrite(path), path, room);
  }
  // Reads of every file together past `readable` bytes fail as a bad
  // sector does.
  std::unique_ptr<ReadableFile> OpenForRead(const std::u16string& path) override {
    class Failing : public ReadableFile {
     public:
      Failing(std::unique_ptr<ReadableFile> file, std::u16string path, std::uint64_t& readable)
          : file_(std::move(file)), path_(std::move(path)), readable_(readable) {}
      std::size_t Read(std::uint8_t* data, std::size_t size) override {
        const std::size_t got = file_->Read(data, size);
        if (got > readable_) throw FileError("read " + ToUtf8(path_) + ": Input/output error");
        readable_ -= got;
        return got;
      }
      void Seek(std::uint64_t offset) override { file_->Seek(offset); }
      std::uint64_t Size() override { return file_->Size(); }

     private:
      std::unique_ptr<ReadableFile> file_;
      std::u16string path_;
      std::uint64_t& readable_;
    };
    return std::make_unique<Failing>(StdFileSystem::OpenForRead(path), path, readable);
  }
  std::vector<std::string> notes;
  std::uint64_t room = UINT64_MAX;
  std::uint64_t readable = UINT64_MAX;
  // Called with the attempt's number before each replace; may throw as a
  // file held by another program makes the system refuse.
  std::function<void(int)> refuse_replace;
  int replace_attempts = 0;
  std::optional<FileError> refuse_rename_new;
  std::string replace_note;  // what the replace tells the trace
  bool stuck_trees = false;  // nothing can be removed (a file held open inside)
  // A directory that takes no new directories: a read-only mount, a
  // folder that allows files only.
  std::optional<FileError> refuse_directories;

 private:
  static std::string Name(const std::u16string& path) {
    return std::filesystem::path(path).filename().string();
  }
};

class JobFixture : public ::testing::Test {
 protected:
  JobFixture() {
    // Suite and test name both: ctest -j runs ReceiveJob.X beside SendJob.X.
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    root_ = std::filesystem::temp_directory_path() /
            ("tolvex-job-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
             "-" + test->test_suite_name() + "." + test->name());
    std::filesystem::remove_all(root_);
    std::filesystem::create_directories(root_);
  }
  ~JobFixture() override { std::filesystem::remove_all(root_); }

  std::filesystem::path Path(const std::string& rel) const { return root_ / rel; }
  std::u16string Dir(const std::string& rel = "") const {
    return FromUtf8((rel.empty() ? root_ : root_ / rel).string());
  }
  void Write(const std::string& rel, const std::string& content) {
    std::filesystem::create_directories(Path(rel).parent_path());
    std::ofstream(Path(rel), std::ios::binary) << content;
  }
  std::string Read(const std::string& rel) const {
    std::ifstream in(Path(rel), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  bool Exists(const std::string& rel) const { return std::filesystem::exists(Path(rel)); }
  // The names in a directory, links and hidden entries included.
  std::set<std::string> Listing(const std::string& rel = "") const {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(rel.empty() ? root_ : Path(rel))) {
      names.insert(entry.path().filename().string());
    }
    return names;
  }
  // A file in a directory the job handed to the control.
  static std::filesystem::path In(const std::u16string& dir, const std::string& name) {
    return std::filesystem::path(dir) / name;
  }
  static void WriteIn(const std::u16string& dir, const std::string& name,
                      const std::string& content) {
    std::ofstream(In(dir, name), std::ios::binary) << content;
  }
  static std::string ReadIn(const std::u16string& dir, const std::string& name) {
    std::ifstream in(In(dir, name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  std::int16_t Recv(const std::string& file, const std::u16string& code = u"C001",
                    const std::u16string& url = u"http://host1:8080/app") {
    return tolvex.RecvSO(url, u"key", code, Variant::String(Dir() + u"/" + FromUtf8(file)));
  }
  std::int16_t Send(const std::string& file) {
    return tolvex.SendProgress(u"http://host1:8080/app", u"key", u"C001",
                               Variant::String(Dir() + u"/" + FromUtf8(file)));
  }

  std::filesystem::path root_;
  JobState state;
  ServerAddress address;
  FakeHttpSession http;
  FakeArchiveControl archive;
  NotingFileSystem files;
  FakeDialogWindow window;
  NoMousePointer pointer;
  RecordingTraceSink trace_lines;
  Trace trace{trace_lines};
  FrmTolvex dialog{window, {state, address, http, archive, files, kPosixPathStyle, &trace}};
  Tolvex tolvex{{state, dialog, pointer, files, &trace}};

 private:
  // The replace is retried without the pauses a real file would need.
  const bool short_pauses_ = [this] {
    dialog.replace_pauses_ms = {1, 1, 1};
    return true;
  }();
};

}  // namespace tolvex::testing
