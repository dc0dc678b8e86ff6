#include "dialog/frm_tolvex.h"

#include "component/result_codes.h"
#include "net/post_request.h"

namespace tolvex {

FrmTolvex::FrmTolvex(DialogWindow& window, DialogServices services)
    : window_(window), services_(services) {}

void FrmTolvex::ShowModal() { window_.ShowModal(*this); }

void FrmTolvex::OnLoad() {
  window_.SetTimerInterval(DialogTimer::Start, 1);
  window_.SetTimerEnabled(DialogTimer::Start, true);
}

void FrmTolvex::OnTimer(DialogTimer timer) {
  if (timer == DialogTimer::Out) {
    OnResponseTimer();
    return;
  }
  // Enabled goes off before Interval so no second tick can start the job
  // again.
  window_.SetTimerEnabled(DialogTimer::Start, false);
  window_.SetTimerInterval(DialogTimer::Start, 0);
  RunJob();
}

void FrmTolvex::OnCancel() { window_.Unload(); }

void FrmTolvex::SetStatusText(const std::u16string& text) { window_.SetLabelCaption(text); }

void FrmTolvex::Repaint() { window_.Refresh(); }

void FrmTolvex::RunJob() {
  finished_ = false;
  try {
    if (services_.state.JobMode == kJobModeSend) {
      RunSend();
    } else {
      RunReceive();
    }
  } catch (...) {
    // A failure no step maps: the call still ends with a stored result and
    // a closed dialog, and nothing reaches the caller.
    if (!finished_) Finish(kResultNoOutcome, u"");
  }
}

void FrmTolvex::OnResponseTimer() {
  window_.SetTimerEnabled(DialogTimer::Out, false);
  window_.SetTimerInterval(DialogTimer::Out, 0);
  if (TimeoutCount == 3) {
    Finish(kResultTimeout);
    return;
  }
  ++TimeoutCount;
  window_.SetTimerInterval(DialogTimer::Out, response_period_ms);
  window_.SetTimerEnabled(DialogTimer::Out, true);
}

void FrmTolvex::Finish(std::int16_t code, std::u16string_view text) {
  services_.state.RunningJob().ResultCode = code;
  services_.state.ErrorText = std::u16string(text);
  finished_ = true;
  window_.Unload();
}

void FrmTolvex::Finish(std::int16_t code) { Finish(code, ResultText(code)); }

bool FrmTolvex::Post(const std::u16string& body) {
  return PostRequest(services_.http, services_.address, *this, body, ResponseBytes);
}

void FrmTolvex::StopResponseTimer() {
  window_.SetTimerInterval(DialogTimer::Out, 0);
  window_.SetTimerEnabled(DialogTimer::Out, false);
}

void FrmTolvex::ShowHalfProgress() {
  // Single precision and not rounded, as the progress bar takes it.
  window_.SetProgressValue(static_cast<float>(window_.ProgressMax()) / 2.0f);
}

std::u16string FrmTolvex::LocalPath(const TransferJob& job, std::u16string_view name) const {
  return JoinPath(services_.paths, job.LocalDir, name);
}

}  // namespace tolvex
