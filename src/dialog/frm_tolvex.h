// frmTolvex: the modal transfer dialog. It starts the job JobMode names one
// timer tick after it has loaded, offers Cancel until then, and carries the
// controls and the reply array the jobs use. The object outlives its
// window: one instance serves every call of its front end's component (in
// Tolvex.dll, of one apartment thread).
//
// Thread contract: used on one thread, the dialog's; while a post runs its
// worker reaches the session, the address and ResponseBytes, and the
// dialog waits for it to be joined before it reads them again.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "archive/archive_control.h"
#include "component/bytes.h"
#include "component/file_system.h"
#include "component/job_state.h"
#include "component/path_style.h"
#include "component/ports.h"
#include "component/trace.h"
#include "dialog/dialog_window.h"
#include "net/http_session.h"
#include "net/post_request.h"
#include "net/server_address.h"
#include "net/status_display.h"

namespace tolvex {

struct DialogServices {
  JobState& state;
  ServerAddress& address;
  HttpSession& http;
  ArchiveControl& archive;
  FileSystem& files;
  PathStyle paths;
  Trace* trace = nullptr;  // none: causes are kept for nobody
};

class FrmTolvex : public ModalDialog, private DialogEvents {
 public:
  FrmTolvex(DialogWindow& window, DialogServices services);

  void ShowModal() override;

  // The reply body of the last post; kept between calls.
  Bytes ResponseBytes;
  // Response-timer periods elapsed since bytes last moved either way: the
  // timOut handler counts them, news of bytes moving sets it back to 0.
  std::int16_t TimeoutCount = 0;

  // The response timer's period; 60 s. Tests shorten it.
  std::uint32_t response_period_ms = 60000;
  // The pauses between attempts at the final replace of a receive; tests
  // shorten them.
  std::vector<std::uint32_t> replace_pauses_ms;

 private:
  void OnLoad() override;
  void OnTimer(DialogTimer timer) override;
  void OnCancel() override;

  void RunJob();
  void RunReceive();
  void RunSend();
  void OnResponseTimer();

  // Stores the outcome in the running job's record and ErrorText, then
  // unloads the dialog. Every path of every job ends here.
  void Finish(std::int16_t code, std::u16string_view text);
  void Finish(std::int16_t code);
  // Points PostUrl at the servlet, seeds the reply, shows the posting
  // caption (and half progress when asked) and posts. True when the post
  // succeeded and the response timer is stopped; false when the job has
  // ended: the post failed (result 9 stored) or the dialog was closed.
  // The reply goes to `reply`, which resets ResponseBytes when it begins.
  bool PostToServlet(const TransferJob& job, std::u16string_view servlet, RequestBody& body,
                     ReplySink& reply, bool half_progress_while_posting);
  enum class PostOutcome { Done, Failed, Interrupted };
  // Posts on a worker thread while the dialog keeps running its message
  // loop, so it repaints, the response timer runs and Cancel is honoured.
  // Interrupted: the dialog was unloaded during the post (timeout or
  // Cancel), the exchange has been aborted and the outcome is stored;
  // reply_complete_ says whether the whole reply had arrived all the same.
  // Bytes moving in either direction restart the count of silent periods.
  PostOutcome Post(RequestBody& body, ReplySink& reply);
  void OnBytesMoved(const TransferCounts& counts);
  // objTrans with the settings both jobs give it before packing or
  // unpacking; any of them may raise.
  ArchiveControl& PreparedArchiveControl();
  // Packs or unpacks (`step`) on a thread beside the dialog's loop when
  // the control allows it, so the dialog repaints and Cancel is honoured
  // meanwhile; otherwise right here. Raises what the step raised. The job
  // looks at unloaded_ afterwards: a Cancel meanwhile ends it.
  void RunArchiveStep(ArchiveControl& trans, const std::function<void()>& step);
  // A pause between attempts at the final replace, with the dialog's loop
  // running; false once the dialog has been closed.
  bool PauseBeforeRetry(std::uint32_t milliseconds);
  void UnloadWindow();
  void StopResponseTimer();
  void StartResponseTimer();
  void ShowHalfProgress();
  std::u16string LocalPath(const TransferJob& job, std::u16string_view name) const;
  Trace& trace() const { return services_.trace != nullptr ? *services_.trace : DiscardingTrace(); }

  DialogWindow& window_;
  DialogServices services_;
  bool finished_ = false;  // the running job has stored its outcome
  bool unloaded_ = false;  // the window of this show has been unloaded
  // The last post read its whole reply, even when the dialog was closed
  // before the job could take it.
  bool reply_complete_ = false;
  // Counted by the post's worker whenever bytes move, and read by the
  // response timer: a host's own message loop may run the timer's ticks
  // while the news of the bytes waits for the dialog's loop.
  std::atomic<std::uint64_t> moves_{0};
  std::uint64_t moves_seen_ = 0;  // as of the last tick or news
};

}  // namespace tolvex
