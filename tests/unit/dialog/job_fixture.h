// A loaded component wired to fakes: real files in a temporary directory
// (through the fault-injecting file system),
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
#include "support/faulty_file_system.h"
#include "support/recording_trace_sink.h"

namespace tolvex::testing {

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
  FaultyFileSystem files;  // over the real files
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
