#include "dialog/frm_tolvex.h"

#include <atomic>
#include <exception>
#include <functional>
#include <mutex>
#include <new>
#include <optional>
#include <thread>
#include <utility>

#include "component/result_codes.h"
#include "component/text.h"
#include "dialog/local_files.h"
#include "net/post_request.h"
#include "net/servlet_protocol.h"

namespace tolvex {

FrmTolvex::FrmTolvex(DialogWindow& window, DialogServices services)
    : replace_pauses_ms(kReplacePausesMs), window_(window), services_(services) {}

void FrmTolvex::ShowModal() {
  unloaded_ = false;
  window_.ShowModal(*this);
}

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

void FrmTolvex::OnCancel() {
  if (!finished_) trace().Fail("cancelled by the user before the job ended");
  UnloadWindow();
}

void FrmTolvex::UnloadWindow() {
  unloaded_ = true;
  window_.Unload();
}

void FrmTolvex::RunJob() {
  finished_ = false;
  try {
    if (services_.state.JobMode == kJobModeSend) {
      RunSend();
    } else {
      RunReceive();
    }
  } catch (const std::bad_alloc&) {
    trace().Fail("there was not enough memory for the job", "std::bad_alloc");
    if (!finished_) Finish(kResultNoOutcome, u"");
  } catch (const std::exception& error) {
    // A failure no step maps: the call still ends with a stored result and
    // a closed dialog, and nothing reaches the caller.
    trace().Fail("an unexpected error ended the job", error.what());
    if (!finished_) Finish(kResultNoOutcome, u"");
  } catch (...) {
    trace().Fail("an unexpected error ended the job");
    if (!finished_) Finish(kResultNoOutcome, u"");
  }
}

void FrmTolvex::OnResponseTimer() {
  window_.SetTimerEnabled(DialogTimer::Out, false);
  window_.SetTimerInterval(DialogTimer::Out, 0);
  // Bytes moved in this period though their news has not reached the
  // dialog: the period was not silent.
  if (const std::uint64_t moves = moves_.load(); moves != moves_seen_) {
    moves_seen_ = moves;
    TimeoutCount = 0;
    StartResponseTimer();
    return;
  }
  if (TimeoutCount == 3) {
    trace().Fail("the server did not answer in time",
                 "no byte moved in either direction for 4 periods of " +
                     std::to_string(response_period_ms) + " ms");
    Finish(kResultTimeout);
    return;
  }
  ++TimeoutCount;
  trace().Step("response timer: period " + std::to_string(TimeoutCount) +
               " of 4 passed in silence");
  StartResponseTimer();
}

void FrmTolvex::StartResponseTimer() {
  window_.SetTimerInterval(DialogTimer::Out, response_period_ms);
  window_.SetTimerEnabled(DialogTimer::Out, true);
}

void FrmTolvex::OnBytesMoved(const TransferCounts& counts) {
  // A whole period of silence from now on before the next count: the timer
  // starts its period afresh, not just the count.
  TimeoutCount = 0;
  moves_seen_ = moves_.load();
  window_.SetTimerEnabled(DialogTimer::Out, false);
  StartResponseTimer();
  window_.ShowTransferProgress(counts);
}

void FrmTolvex::Finish(std::int16_t code, std::u16string_view text) {
  services_.state.RunningJob().ResultCode = code;
  services_.state.ErrorText = std::u16string(text);
  finished_ = true;
  UnloadWindow();
}

void FrmTolvex::Finish(std::int16_t code) { Finish(code, ResultText(code)); }

namespace {

// The post's status notices and byte counts, handed from the worker to the
// dialog's thread.
class PendingStatus : public StatusDisplay {
 public:
  PendingStatus(DialogWindow& window, std::atomic<std::uint64_t>& moves,
                std::function<void(const TransferCounts&)> on_moved)
      : window_(window), moves_(moves), on_moved_(std::move(on_moved)) {}
  void SetStatusText(const std::u16string& text) override {
    std::lock_guard<std::mutex> lock(mutex_);
    text_ = text;
  }
  void Repaint() override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      repaint_ = true;
    }
    window_.Wake();
  }
  // Once per batch: the dialog's thread takes all that came since its last
  // look, so a fast transfer costs one wake-up per look, not one per piece
  // (a message across threads is dear, under Wine above all).
  void BytesMoved(const TransferCounts& counts) override {
    ++moves_;
    bool wake;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      counts_ = counts;
      wake = !woken_;
      woken_ = true;
    }
    if (wake) window_.Wake();
  }
  // On the dialog's thread.
  void Apply() {
    std::optional<std::u16string> text;
    std::optional<TransferCounts> counts;
    bool repaint;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      text.swap(text_);
      counts.swap(counts_);
      repaint = std::exchange(repaint_, false);
      woken_ = false;
    }
    if (counts) on_moved_(*counts);
    if (text) window_.SetLabelCaption(*text);
    if (repaint) window_.Refresh();
  }

 private:
  DialogWindow& window_;
  std::atomic<std::uint64_t>& moves_;
  std::function<void(const TransferCounts&)> on_moved_;
  std::mutex mutex_;
  std::optional<std::u16string> text_;
  std::optional<TransferCounts> counts_;
  bool repaint_ = false;
  bool woken_ = false;  // a wake for counts is on its way
};

// Ends the post's worker: aborts the exchange unless it is done, then
// waits for the thread.
class PostWorkerJoin {
 public:
  PostWorkerJoin(std::thread& worker, HttpSession& http, const std::atomic<bool>& done)
      : worker_(worker), http_(http), done_(done) {}
  PostWorkerJoin(const PostWorkerJoin&) = delete;
  PostWorkerJoin& operator=(const PostWorkerJoin&) = delete;
  ~PostWorkerJoin() { Now(); }

  void Now() noexcept {
    if (!worker_.joinable()) return;
    if (!done_) {
      try {
        http_.Abort();
      } catch (...) {
        // The join below still waits; a back end that cannot abort ends
        // the exchange in its own time.
      }
    }
    worker_.join();
  }

 private:
  std::thread& worker_;
  HttpSession& http_;
  const std::atomic<bool>& done_;
};

}  // namespace

FrmTolvex::PostOutcome FrmTolvex::Post(RequestBody& body, ReplySink& reply) {
  // A fresh count for every post: periods left over from an earlier call
  // must not cut this one short.
  TimeoutCount = 0;
  StartResponseTimer();

  bool pumping = true;
  moves_seen_ = moves_.load();
  PendingStatus status(window_, moves_, [&](const TransferCounts& counts) {
    // Once the post is over its last counts are only shown: the timer is
    // the job's to stop.
    if (pumping && !unloaded_) {
      OnBytesMoved(counts);
    } else {
      window_.ShowTransferProgress(counts);
    }
  });
  std::atomic<bool> done{false};
  bool sent = false;
  reply_complete_ = false;
  services_.http.ResetAbort();
  std::thread worker([&] {
    try {
      sent = PostRequest(services_.http, services_.address, status, body, reply, trace());
    } catch (...) {
      // PostRequest maps its own failures; nothing may end the thread.
    }
    done = true;
    window_.Wake();
  });
  // Joined on every way out, an exception from the loop included: a
  // joinable thread left behind would end the client's process.
  PostWorkerJoin join{worker, services_.http, done};
  try {
    window_.PumpUntil([&] {
      status.Apply();
      return done.load();
    });
  } catch (const std::exception& error) {
    // Named before the abort, whose failure would say less.
    trace().Fail("an unexpected error ended the job", error.what());
    throw;
  }
  pumping = false;
  join.Now();
  reply_complete_ = sent;
  // Closed by the response timer (its outcome is stored) or by Cancel
  // (nothing is stored, so the call returns 99).
  if (unloaded_) return PostOutcome::Interrupted;
  status.Apply();
  return sent ? PostOutcome::Done : PostOutcome::Failed;
}

void FrmTolvex::RunArchiveStep(ArchiveControl& trans, const std::function<void()>& step) {
  if (!trans.RunsOnAnyThread()) {
    step();
    return;
  }
  std::atomic<bool> done{false};
  std::exception_ptr error;
  std::thread worker([&] {
    try {
      step();
    } catch (...) {
      error = std::current_exception();
    }
    done = true;
    window_.Wake();
  });
  {
    // Joined on every way out: after a Cancel the step still ends first,
    // so nothing of it outlives the job's work directory.
    struct Join {
      std::thread& thread;
      ~Join() { thread.join(); }
    } join{worker};
    window_.PumpUntil([&] { return done.load(); });
  }
  if (error) std::rethrow_exception(error);
}

bool FrmTolvex::PauseBeforeRetry(std::uint32_t milliseconds) {
  if (!unloaded_) window_.PumpFor(milliseconds);
  return !unloaded_;
}

ArchiveControl& FrmTolvex::PreparedArchiveControl() {
  ArchiveControl& trans = services_.archive;
  trans.PutArchiveMode(1);
  trans.PutOwnerHwnd(window_.WindowHandle());
  trans.PutOptionA(false);
  trans.PutOptionB(false);
  return trans;
}

bool FrmTolvex::PostToServlet(const TransferJob& job, std::u16string_view servlet,
                              RequestBody& body, ReplySink& reply,
                              bool half_progress_while_posting) {
  // The URL as it passed the check, which ignored the spaces around it.
  services_.state.PostUrl = BuildPostUrl(TrimSpaces(job.ServerUrl), servlet);
  ParseServerUrl(services_.state.PostUrl, services_.address);
  ResponseBytes.assign(1, kReplySeed);

  window_.SetLabelCaption(job.ServerUrl + u"へ ﾎﾟｽﾄしています ...");
  if (half_progress_while_posting) ShowHalfProgress();
  window_.Refresh();
  trace().Step("POST " + ToUtf8(services_.state.PostUrl));
  trace().Step("request body: " + std::to_string(body.Size()) + " bytes, header \"" +
               MaskedRequestHeader(BuildRequestHeader(job)) + "\"");
  const StepClock clock;
  switch (Post(body, reply)) {
    case PostOutcome::Done:
      StopResponseTimer();
      trace().Step("reply: " + std::to_string(reply.Received()) + " bytes, " +
                   QuotedBytes(ResponseBytes.data(), ResponseBytes.size(), 16) + ", in " +
                   clock.Elapsed());
      return true;
    case PostOutcome::Failed:
      // Our own work file failing while it was sent is the archive's
      // fault, not the connection's.
      Finish(body.Failed() ? kResultPackFailed : kResultPostFailed);
      return false;
    case PostOutcome::Interrupted:
      break;
  }
  return false;
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
