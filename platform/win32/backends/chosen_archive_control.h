// objTrans as each show of the dialog gets it: the control the archive
// control's ProgID names where it can be made in this process, exactly as
// before, and otherwise our own zip archiver in-process, the one the POSIX
// build drives, behind the same operations. A machine without the control,
// or with it for the other architecture only, still transfers.
//
// The choice is made when the dialog is shown, before the job posts, so a
// receive never asks the server for data it could not unpack; the trace
// says which archiver the call uses and why.
//
// Thread contract: made and driven on the dialog's thread, the apartment
// thread of its root; when it chose the built-in archiver, Pack and Unpack
// also run on the archive step's worker while nothing else calls it.
#pragma once

#include <optional>
#include <string>

#include "archive/archive_control.h"
#include "archive/zip_archiver.h"
#include "backends/late_bound_archive_control.h"
#include "component/file_system.h"
#include "component/trace.h"

namespace tolvex::win32 {

class ChosenArchiveControl final : public ArchiveControl {
 public:
  ChosenArchiveControl(FileSystem& files, Trace& trace,
                       std::wstring progid = kArchiveControlProgId);

  // Chooses for one show; Destroy lets either archiver go.
  void Create() noexcept;
  void Destroy() noexcept;
  bool UsesBuiltIn() const { return built_in_.has_value(); }

  void PutArchiveMode(std::int32_t mode) override { Active().PutArchiveMode(mode); }
  void PutOwnerHwnd(std::int32_t hwnd) override { Active().PutOwnerHwnd(hwnd); }
  void PutOptionA(bool value) override { Active().PutOptionA(value); }
  void PutOptionB(bool value) override { Active().PutOptionB(value); }
  void PutPackDir(std::u16string& dir) override { Active().PutPackDir(dir); }
  void PutPackArchiveName(const std::u16string& name) override {
    Active().PutPackArchiveName(name);
  }
  void PutUnpackDir(std::u16string& dir) override { Active().PutUnpackDir(dir); }
  void PutUnpackArchiveName(const std::u16string& name) override {
    Active().PutUnpackArchiveName(name);
  }
  void BeginPack() override { Active().BeginPack(); }
  void AddPackFile(std::u16string& file) override { Active().AddPackFile(file); }
  void Pack() override { Active().Pack(); }
  void BeginUnpack() override { Active().BeginUnpack(); }
  void Unpack() override { Active().Unpack(); }
  std::int32_t GetArchiveError() override { return Active().GetArchiveError(); }
  std::u16string GetArchiveErrorText() override { return Active().GetArchiveErrorText(); }
  // The built-in archiver only: the control stays on the thread that
  // hosts it.
  bool RunsOnAnyThread() const override { return built_in_.has_value(); }

 private:
  // Outside a show, the late-bound control, which raises as a missing
  // control does.
  ArchiveControl& Active();

  FileSystem& files_;
  Trace& trace_;
  LateBoundArchiveControl control_;
  // Made afresh for each show, as the control is: no setting or error of
  // one call reaches the next.
  std::optional<ZipArchiver> built_in_;
};

}  // namespace tolvex::win32
