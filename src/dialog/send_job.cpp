// RunSend: packs the caller's progress file and posts it to
// PutProgressData.
#include "component/result_codes.h"
#include "component/text.h"
#include "dialog/frm_tolvex.h"
#include "dialog/job_trace.h"
#include "dialog/local_files.h"
#include "net/form_codec.h"
#include "net/servlet_protocol.h"

namespace tolvex {

void FrmTolvex::RunSend() {
  TransferJob& job = services_.state.SendJob;
  window_.SetLabelCaption(u"送信(" + job.ServerUrl + u")");
  window_.Refresh();

  constexpr std::u16string_view kSendWorkFile = u"progress.zip";
  const std::u16string work_path = LocalPath(job, kSendWorkFile);
  // The work file is deleted before packing: a progress file of that very
  // name would be lost instead of sent.
  if (SameFileName(services_.paths, job.LocalFile, kSendWorkFile)) {
    trace().Fail("the file is named like the work archive", ToUtf8(work_path));
    return Finish(kResultPackFailed);
  }
  DeleteIgnoringErrors(services_.files, work_path);

  const StepClock packing;
  try {
    ArchiveControl& trans = PreparedArchiveControl();
    std::u16string pack_dir = job.LocalDir;
    trans.PutPackDir(pack_dir);
    trans.PutPackArchiveName(std::u16string(u"progress") + u".zip");
    trans.BeginPack();
    std::u16string pack_file = job.LocalFile;
    trans.AddPackFile(pack_file);
    trans.Pack();
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
  // packing failure, not something to post.
  Bytes archive;
  const StepClock reading;
  try {
    archive = ReadWholeFile(services_.files, work_path);
  } catch (const FileError& error) {
    FailOnError(trace(), "the packed archive could not be read", error);
    return Finish(kResultPackFailed);
  }
  if (archive.empty()) {
    trace().Fail("the packed archive could not be read", "the archive is empty");
    return Finish(kResultPackFailed);
  }
  trace().Step("read " + ToUtf8(work_path) + ": " + std::to_string(archive.size()) + " bytes in " +
               reading.Elapsed());

  const StepClock encoding;
  Bytes encoded;
  EncodeFormBytes(archive, encoded);
  trace().Step("encoded " + std::to_string(archive.size()) + " archive bytes as " +
               std::to_string(encoded.size()) + " in " + encoding.Elapsed());
  archive = Bytes();
  std::u16string body = BuildRequestHeader(job);
  body.append(encoded.begin(), encoded.end());
  encoded = Bytes();

  if (!PostToServlet(job, kServletPutProgressData, body, true)) return;
  window_.SetLabelCaption(u"ﾎﾟｽﾄが終了しました.");
  window_.Refresh();
  window_.SetProgressValue(static_cast<float>(window_.ProgressMax()));
  DeleteIgnoringErrors(services_.files, work_path);

  if (IsPutProgressDataAccepted(ResponseBytes)) {
    trace().Step("reply classified: accepted");
    return Finish(kResultOk, u"");
  }
  FailOnReply(trace(), kResultServerError, ResponseBytes);
  Finish(kResultServerError);
}

}  // namespace tolvex
