#include "backends/chosen_archive_control.h"

#include <exception>
#include <utility>

#include "com/wide_string.h"
#include "component/path_style.h"
#include "component/text.h"

namespace tolvex::win32 {

ChosenArchiveControl::ChosenArchiveControl(FileSystem& files, Trace& trace, std::wstring progid)
    : files_(files), trace_(trace), control_(std::move(progid)) {}

void ChosenArchiveControl::Create() noexcept {
  Destroy();
  control_.Create();
  if (!control_.Created()) built_in_.emplace(files_, kWindowsPathStyle);
  try {
    const std::string progid = ToUtf8(FromWide(control_.progid()));
    if (built_in_) {
      trace_.Step("archiver: the built-in zip archiver, as " + progid +
                  " cannot be created in this process (" + control_.CreateFailure() + ")");
    } else {
      trace_.Step("archiver: " + progid + " " + control_.CreatedClass());
    }
  } catch (const std::exception&) {
    // Out of memory for a trace line: the call goes on without it.
  }
}

void ChosenArchiveControl::Destroy() noexcept {
  built_in_.reset();
  control_.Destroy();
}

ArchiveControl& ChosenArchiveControl::Active() {
  if (built_in_) return *built_in_;
  return control_;
}

}  // namespace tolvex::win32
