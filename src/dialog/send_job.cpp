// RunSend: packs the caller's progress file and posts it to
// PutProgressData.
#include <optional>

#include "component/result_codes.h"
#include "component/text.h"
#include "dialog/archive_reply_sink.h"
#include "dialog/frm_tolvex.h"
#include "dialog/job_trace.h"
#include "dialog/local_files.h"
#include "dialog/transfer_buffers.h"
#include "net/servlet_protocol.h"

namespace tolvex {

void FrmTolvex::RunSend() {
  TransferJob& job = services_.state.SendJob;
  window_.SetLabelCaption(u"送信(" + job.ServerUrl + u")");
  window_.Refresh();

  constexpr std::u16string_view kSendWorkFile = u"progress.zip";
  // The archive is made in a directory of this call's own, so no file of
  // the caller's is written or deleted, whatever its name. The control
  // takes the file by its name from the directory it packs in: a copy goes
  // there, and the archive holds the same member under the same name as
  // when it was packed beside the file.
  std::optional<StagingDirectory> stage;
  try {
    stage.emplace(services_.files, services_.paths, job.LocalDir, trace());
    CopyWholeFile(services_.files, LocalPath(job, job.LocalFile), stage->File(job.LocalFile),
                  Copy::kScratch);
  } catch (const FileError& error) {
    FailOnError(trace(), "the progress file could not be copied for packing", error);
    return Finish(kResultPackFailed);
  }
  const std::u16string work_path = stage->File(kSendWorkFile);

  const StepClock packing;
  try {
    ArchiveControl& trans = PreparedArchiveControl();
    std::u16string pack_dir = stage->path();
    trans.PutPackDir(pack_dir);
    trans.PutPackArchiveName(std::u16string(u"progress") + u".zip");
    trans.BeginPack();
    std::u16string pack_file = job.LocalFile;
    trans.AddPackFile(pack_file);
    RunArchiveStep(trans, [&] { trans.Pack(); });
    if (unloaded_) return;  // Cancel meanwhile: the work directory goes, nothing was sent
    if (const std::int32_t error = trans.GetArchiveError(); error != 0) {
      const std::u16string text = trans.GetArchiveErrorText();
      trace().Fail("the archiver reported an error while packing", ArchiveErrorDetail(error, text));
      return Finish(kResultPackReported, ControlErrorText(kResultPackReported, text));
    }
  } catch (const std::exception& error) {
    FailOnError(trace(), "packing failed to run", error);
    return Finish(kResultPackFailed);
  } catch (...) {
    trace().Fail("packing failed to run");
    return Finish(kResultPackFailed);
  }
  trace().Step("packed " + ToUtf8(work_path) + " in " + packing.Elapsed());

  // A packing reported as successful that left no usable archive is still a
  // packing failure, not something to post. The body is encoded from the
  // work file as it is sent, so the directory stays until the call ends
  // and goes on every outcome, Cancel and the response timer included.
  std::optional<ArchiveBody> body;
  const StepClock counting;
  try {
    body.emplace(services_.http, job, services_.files, work_path, trace());
  } catch (const FileError& error) {
    FailOnError(trace(), "the packed archive could not be read", error);
    return Finish(kResultPackFailed);
  }
  trace().Step("read and encoded " + ToUtf8(work_path) + ": " +
               std::to_string(body->archive_size()) + " archive bytes make " +
               std::to_string(body->Size()) + " body bytes, counted in " + counting.Elapsed() +
               ", encoded as sent");

  // A reply other than the one status byte is only held as far as telling
  // it apart needs.
  ReplyCollector reply(ResponseBytes, kHeldReplyLimit);
  if (!PostToServlet(job, kServletPutProgressData, *body, reply, true)) return;
  window_.SetLabelCaption(u"ﾎﾟｽﾄが終了しました.");
  window_.Refresh();
  window_.SetProgressValue(static_cast<float>(window_.ProgressMax()));

  if (IsPutProgressDataAccepted(ResponseBytes)) {
    trace().Step("reply classified: accepted");
    return Finish(kResultOk, u"");
  }
  FailOnReply(trace(), kResultServerError, ResponseBytes);
  Finish(kResultServerError);
}

}  // namespace tolvex
