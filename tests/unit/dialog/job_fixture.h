// A loaded component wired to fakes: real files in a temporary directory,
// a synchronous fake window, a scripted server and a scripted control.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "component/text.h"
#include "component/tolvex.h"
#include "dialog/frm_tolvex.h"
#include "support/fake_archive_control.h"
#include "support/fake_dialog_window.h"
#include "support/fake_http_session.h"
#include "support/recording_trace_sink.h"

namespace tolvex::testing {

// Real files on a disk that can be made to fill up: a write past `room`
// bytes fails as a full disk does.
class FillingFileSystem : public StdFileSystem {
 public:
  std::unique_ptr<WritableFile> OpenForWrite(const std::u16string& path) override {
    class Filling : public WritableFile {
     public:
      Filling(std::unique_ptr<WritableFile> file, std::u16string path, std::uint64_t& room)
          : file_(std::move(file)), path_(std::move(path)), room_(room) {}
      void Write(const std::uint8_t* data, std::size_t size) override {
        if (size > room_) throw FileError("write " + ToUtf8(path_) + ": No space left on device");
        room_ -= size;
        file_->Write(data, size);
      }
      void Close() override { file_->Close(); }

     private:
      std::unique_ptr<WritableFile> file_;
      std::u16string path_;
      std::uint64_t& room_;
    };
    return std::make_unique<Filling>(StdFileSystem::OpenForWrite(path), path, room);
  }
  std::uint64_t room = UINT64_MAX;
};

class JobFixture : public ::testing::Test {
 protected:
  JobFixture() {
    root_ = std::filesystem::temp_directory_path() /
            ("tolvex-job-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
             "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
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

  std::int16_t Recv(const std::string& file, const std::u16string& code = u"C001") {
    return tolvex.RecvSO(u"http://host1:8080/app", u"key", code,
                         Variant::String(Dir() + u"/" + FromUtf8(file)));
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
  FillingFileSystem files;
  FakeDialogWindow window;
  NoMousePointer pointer;
  RecordingTraceSink trace_lines;
  Trace trace{trace_lines};
  FrmTolvex dialog{window, {state, address, http, archive, files, kPosixPathStyle, &trace}};
  Tolvex tolvex{{state, dialog, pointer, files, &trace}};
};

}  // namespace tolvex::testing
