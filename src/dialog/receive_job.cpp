// RunReceive: fetches the company's work-instruction archive from GetSOData
// and leaves its data in the caller's file.
#include "component/result_codes.h"
#include "dialog/frm_tolvex.h"
#include "dialog/local_files.h"
#include "dialog/transfer_buffers.h"
#include "net/form_codec.h"
#include "net/servlet_protocol.h"

namespace tolvex {

namespace {
constexpr std::u16string_view kReceiveWorkFile = u"so.zip";
constexpr std::u16string_view kDataSuffix = u".dat";
}  // namespace

void FrmTolvex::RunReceive() {
  TransferJob& job = services_.state.RecvJob;
  window_.SetLabelCaption(u"受信(" + job.ServerUrl + u")");
  window_.Refresh();

  const Bytes body = RequestHeaderBody(services_.http, job);
  if (!PostToServlet(job, kServletGetSOData, body, false)) return;
  window_.SetLabelCaption(u"ﾎﾟｽﾄが終了しました");
  window_.Refresh();
  ShowHalfProgress();

  switch (ClassifyGetSODataReply(ResponseBytes)) {
    case GetSODataReply::Data:
      break;
    case GetSODataReply::NoData: {
      CreateLocalDir(services_.files, services_.paths, job.LocalDir);
      try {
        WriteWholeFile(services_.files, LocalPath(job, job.LocalFile), {});
      } catch (const FileError&) {
        return Finish(kResultUnpackFailed);
      }
      return Finish(kResultOk, kTextNoData);
    }
    case GetSODataReply::ServerError:
      return Finish(kResultServerError);
    case GetSODataReply::NoResponse:
      return Finish(kResultNoResponse);
    case GetSODataReply::Invalid:
      return Finish(kResultInvalidReply);
  }

  // Decoded before anything on disk changes, so a malformed payload leaves
  // the caller's directory as it was.
  Bytes archive;
  try {
    archive = TakeDecodedPayload(ResponseBytes);
  } catch (const DecodeError&) {
    return Finish(kResultInvalidReply);
  }

  const std::u16string work_path = LocalPath(job, kReceiveWorkFile);
  const std::u16string data_name = job.CompanyCode + std::u16string(kDataSuffix);
  const std::u16string data_path = LocalPath(job, data_name);
  const std::u16string target_path = LocalPath(job, job.LocalFile);
  // When the caller's file is the archive's own member, it is replaced by
  // the unpack once that member is verified, never deleted beforehand.
  const bool target_is_member = SameFileName(services_.paths, data_name, job.LocalFile);
  // A caller's file named like the work file would be overwritten by the
  // archive and deleted with it at the end.
  if (SameFileName(services_.paths, job.LocalFile, kReceiveWorkFile)) {
    return Finish(kResultUnpackFailed);
  }
  // The member must be a file of the caller's directory. A company code
  // that reaches elsewhere ("../x", "D:x") could never be extracted, and
  // deleting its old copy would delete a file outside that directory.
  if (!IsBareFileName(services_.paths, data_name)) return Finish(kResultUnpackFailed);

  CreateDirectoryChain(services_.files, services_.paths, job.LocalDir);
  // The caller's old file is kept until the new data is known good: the
  // rename at the end replaces it in one step.
  DeleteIgnoringErrors(services_.files, work_path);
  if (!target_is_member) DeleteIgnoringErrors(services_.files, data_path);
  // A caller's file named like the member is set aside instead, so that an
  // archive without that member cannot pass the old file off as new data,
  // and comes back on every failure.
  KeptFile kept(services_.files);
  if (target_is_member && !kept.SetAside(target_path, target_path + u".~tolvex-kept")) {
    return Finish(kResultUnpackFailed);
  }

  try {
    WriteWholeFile(services_.files, work_path, archive);
  } catch (const FileError&) {
    return Finish(kResultUnpackFailed);
  }
  archive = Bytes();  // on disk now; the unpack needs the memory more

  try {
    ArchiveControl& trans = PreparedArchiveControl();
    std::u16string unpack_dir = job.LocalDir;
    trans.PutUnpackDir(unpack_dir);
    trans.PutUnpackArchiveName(std::u16string(u"so") + u".zip");
    trans.BeginUnpack();
    trans.Unpack();
    if (trans.GetArchiveError() != 0) {
      return Finish(kResultUnpackReported,
                    ControlErrorText(kResultUnpackReported, trans.GetArchiveErrorText()));
    }
  } catch (...) {
    return Finish(kResultUnpackFailed);
  }

  window_.SetProgressValue(static_cast<float>(window_.ProgressMax()));
  try {
    if (!services_.files.Exists(data_path)) throw FileError("the archive lacks its member");
    if (data_name != job.LocalFile) services_.files.RenameReplacing(data_path, target_path);
  } catch (const FileError&) {
    return Finish(kResultUnpackFailed);
  }
  kept.Discard();
  DeleteIgnoringErrors(services_.files, work_path);
  Finish(kResultOk, u"");
}

}  // namespace tolvex
