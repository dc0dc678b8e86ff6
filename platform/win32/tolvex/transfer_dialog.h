// frmTolvex as the call sequence shows it: the one dialog object of an
// apartment's root, made by its first call and reused, with the archive
// control made for each show and let go when the dialog has closed, so
// that no control outlives the call or its thread.
#pragma once

#include <cstdint>
#include <memory>

#include "backends/chosen_archive_control.h"
#include "component/ports.h"
#include "dialog/frm_tolvex.h"

namespace tolvex::win32 {

class TransferDialog final : public ModalDialog {
 public:
  struct Parts {
    JobState& state;
    ServerAddress& address;
    HttpSession& http;
    FileSystem& files;
    Trace* trace = nullptr;
  };

  // response_period_ms replaces the form's response period unless 0.
  TransferDialog(DialogWindow& window, ChosenArchiveControl& archive, Parts parts,
                 std::uint32_t response_period_ms = 0);

  // Throws when the dialog is already shown: a second call cannot show it
  // again, and must not take the running job's archive control away.
  void ShowModal() override;

 private:
  DialogWindow& window_;
  ChosenArchiveControl& archive_;
  Parts parts_;
  std::uint32_t response_period_ms_;
  std::unique_ptr<FrmTolvex> form_;
  bool showing_ = false;
};

}  // namespace tolvex::win32
