// An ArchiveControl that records the calls the jobs make and does what the
// test scripts for Pack and Unpack.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "archive/archive_control.h"
#include "component/text.h"

namespace tolvex::testing {

class FakeArchiveControl : public ArchiveControl {
 public:
  void PutArchiveMode(std::int32_t v) override { Call("ArchiveMode=" + std::to_string(v)); }
  void PutOwnerHwnd(std::int32_t v) override { Call("OwnerHwnd=" + std::to_string(v)); }
  void PutOptionA(bool v) override { Call(std::string("OptionA=") + (v ? "1" : "0")); }
  void PutOptionB(bool v) override { Call(std::string("OptionB=") + (v ? "1" : "0")); }
  void PutPackDir(std::u16string& d) override {
    pack_dir = d;
    Call("PackDir");
  }
  void PutPackArchiveName(const std::u16string& n) override {
    Call("PackArchiveName=" + ToUtf8(n));
  }
  void PutUnpackDir(std::u16string& d) override {
    unpack_dir = d;
    Call("UnpackDir");
  }
  void PutUnpackArchiveName(const std::u16string& n) override {
    Call("UnpackArchiveName=" + ToUtf8(n));
  }
  void BeginPack() override { Call("BeginPack"); }
  void AddPackFile(std::u16string& f) override { Call("AddPackFile=" + ToUtf8(f)); }
  void Pack() override {
    Call("Pack");
    if (on_pack) on_pack();
  }
  void BeginUnpack() override { Call("BeginUnpack"); }
  void Unpack() override {
    Call("Unpack");
    if (on_unpack) on_unpack();
  }
  std::int32_t GetArchiveError() override {
    Call("ArchiveError");
    return error;
  }
  std::u16string GetArchiveErrorText() override {
    Call("ArchiveErrorText");
    return error_text;
  }
  bool RunsOnAnyThread() const override { return any_thread; }

  std::vector<std::string> calls;
  std::string raise_at;  // a call name prefix that raises
  std::int32_t error = 0;
  std::u16string error_text;
  std::u16string pack_dir, unpack_dir;
  std::function<void()> on_pack, on_unpack;
  bool any_thread = false;  // Pack and Unpack beside the dialog's loop

 private:
  void Call(const std::string& what) {
    calls.push_back(what);
    if (!raise_at.empty() && what.rfind(raise_at, 0) == 0) throw ArchiveCallError(what);
  }
};

}  // namespace tolvex::testing
