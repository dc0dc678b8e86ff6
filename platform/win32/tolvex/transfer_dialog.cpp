#include "tolvex/transfer_dialog.h"

#include <stdexcept>

#include "component/path_style.h"

namespace tolvex::win32 {

TransferDialog::TransferDialog(DialogWindow& window, ChosenArchiveControl& archive, Parts parts,
                               std::uint32_t response_period_ms)
    : window_(window), archive_(archive), parts_(parts), response_period_ms_(response_period_ms) {}

void TransferDialog::ShowModal() {
  if (showing_) throw std::logic_error("the transfer dialog is already shown");
  if (!form_) {
    form_ = std::make_unique<FrmTolvex>(
        window_, DialogServices{parts_.state, parts_.address, parts_.http, archive_, parts_.files,
                                kWindowsPathStyle, parts_.trace});
    if (response_period_ms_ != 0) form_->response_period_ms = response_period_ms_;
  }
  class Showing {
   public:
    explicit Showing(TransferDialog& dialog) : dialog_(dialog) {
      dialog_.showing_ = true;
      dialog_.archive_.Create();
    }
    Showing(const Showing&) = delete;
    Showing& operator=(const Showing&) = delete;
    ~Showing() {
      dialog_.archive_.Destroy();
      dialog_.showing_ = false;
    }

   private:
    TransferDialog& dialog_;
  } showing(*this);
  form_->ShowModal();
}

}  // namespace tolvex::win32
