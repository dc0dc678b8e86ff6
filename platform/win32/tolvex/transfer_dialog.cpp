#include "tolvex/transfer_dialog.h"

#include <stdexcept>

namespace tolvex::win32 {

// Until the dialog logic is wired in: starts on the first tick and closes
// without a job, so a call returns 99 as when the dialog is cancelled.
class TransferDialog::Form final : public DialogEvents {
 public:
  explicit Form(DialogWindow& window) : window_(window) {}
  void ShowModal() { window_.ShowModal(*this); }
  void OnLoad() override {
    window_.SetTimerInterval(DialogTimer::Start, 1);
    window_.SetTimerEnabled(DialogTimer::Start, true);
  }
  void OnTimer(DialogTimer timer) override {
    if (timer != DialogTimer::Start) return;
    window_.SetTimerEnabled(DialogTimer::Start, false);
    window_.SetTimerInterval(DialogTimer::Start, 0);
    window_.Unload();
  }
  void OnCancel() override { window_.Unload(); }

 private:
  DialogWindow& window_;
};

TransferDialog::TransferDialog(DialogWindow& window, LateBoundArchiveControl& archive, Parts parts)
    : window_(window), archive_(archive), parts_(parts) {}

TransferDialog::~TransferDialog() = default;

void TransferDialog::ShowModal() {
  if (showing_) throw std::logic_error("the transfer dialog is already shown");
  if (!form_) form_ = std::make_unique<Form>(window_);
  struct Showing {
    TransferDialog& dialog;
    explicit Showing(TransferDialog& d) : dialog(d) {
      dialog.showing_ = true;
      dialog.archive_.Create();
    }
    ~Showing() {
      dialog.archive_.Destroy();
      dialog.showing_ = false;
    }
  } showing(*this);
  form_->ShowModal();
}

}  // namespace tolvex::win32
