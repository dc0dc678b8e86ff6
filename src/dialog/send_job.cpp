// RunSend: packs the caller's progress file and posts it to
// PutProgressData.
#include "component/result_codes.h"
#include "dialog/frm_tolvex.h"
#include "dialog/local_files.h"
#include "dialog/transfer_buffers.h"
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
    return Finish(kResultPackFailed);
  }
  DeleteIgnoringErrors(services_.files, work_path);

  try {
    ArchiveControl& trans = PreparedArchiveControl();
    std::u16string pack_dir = job.LocalDir;
    trans.PutPackDir(pack_dir);
    trans.PutPackArchiveName(std::u16string(u"progress") + u".zip");
    trans.BeginPack();
    std::u16string pack_file = job.LocalFile;
    trans.AddPackFile(pack_file);
    trans.Pack();
    if (trans.GetArchiveError() != 0) {
      return Finish(kResultPackReported,
                    ControlErrorText(kResultPackReported, trans.GetArchiveErrorText()));
    }
  } catch (...) {
    return Finish(kResultPackFailed);
  }

  // A packing reported as successful that left no usable archive is still a
  // packing failure, not something to post.
  Bytes body;
  try {
    body = SendBodyFromArchive(services_.http, job, services_.files, work_path);
  } catch (const FileError&) {
    return Finish(kResultPackFailed);
  }

  if (!PostToServlet(job, kServletPutProgressData, body, true)) return;
  window_.SetLabelCaption(u"ﾎﾟｽﾄが終了しました.");
  window_.Refresh();
  window_.SetProgressValue(static_cast<float>(window_.ProgressMax()));
  DeleteIgnoringErrors(services_.files, work_path);

  if (IsPutProgressDataAccepted(ResponseBytes)) return Finish(kResultOk, u"");
  Finish(kResultServerError);
}

}  // namespace tolvex
