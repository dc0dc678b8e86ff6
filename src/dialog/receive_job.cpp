// RunReceive: fetches the company's work-instruction archive from GetSOData
// and leaves its data in the caller's file.
#include <optional>

#include "component/result_codes.h"
#include "component/text.h"
#include "dialog/archive_reply_sink.h"
#include "dialog/frm_tolvex.h"
#include "dialog/job_trace.h"
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

  // The server hands its data out once: a file that could not take it is
  // refused before it is asked.
  if (const auto unfit = ReceiveTargetRefusal(services_.files, LocalPath(job, job.LocalFile))) {
    trace().Fail(ToUtf8(LocalPath(job, job.LocalFile)) + " cannot take received data: " + *unfit);
    return Finish(kResultUnpackFailed);
  }

  // The header can carry no trailing spaces, so the server names the
  // member without them.
  const std::u16string data_name =
      TrimTrailingSpaces(job.CompanyCode) + std::u16string(kDataSuffix);

  // The archive and everything in it stay in a directory of this call's
  // own beside the file it replaces, on that file's volume, and go with it
  // on every outcome (Cancel and the response timer included): nothing of
  // the server's lands among the caller's files but the one member, and
  // only by the final rename. It is made when the first payload byte of a
  // data reply arrives, on the post's thread; the payload is decoded into
  // its work file from then on. Declared before the reply, so the work file
  // is closed before the directory goes.
  std::optional<std::u16string> target;
  std::optional<StagingDirectory> stage;
  std::optional<TraceCause> refusal;
  ArchiveReplySink reply(ResponseBytes, [&]() -> std::unique_ptr<WritableFile> {
    // A code that reaches elsewhere ("../x", "D:x") names no member of the
    // archive's own directory.
    if (!IsBareFileName(services_.paths, data_name)) {
      refusal = TraceCause{"the company code does not make a file name", ToUtf8(data_name)};
      return nullptr;
    }
    CreateDirectoryChain(services_.files, services_.paths, job.LocalDir);
    // A link stays a link and the file it leads to is replaced; anything
    // but a regular file is left as it is.
    target = ReplaceableTarget(services_.files, LocalPath(job, job.LocalFile));
    if (!target) {
      refusal = TraceCause{"the file is not a regular file that can be replaced",
                           ToUtf8(LocalPath(job, job.LocalFile))};
      return nullptr;
    }
    stage.emplace(services_.files, services_.paths, ParentDirectory(services_.paths, *target));
    return services_.files.OpenForWrite(stage->File(kReceiveWorkFile));
  });

  const Bytes header = RequestHeaderBody(services_.http, job);
  BytesBody body(header);
  if (!PostToServlet(job, kServletGetSOData, body, reply, false)) return;
  window_.SetLabelCaption(u"ﾎﾟｽﾄが終了しました");
  window_.Refresh();
  ShowHalfProgress();

  switch (ClassifyGetSODataReply(ResponseBytes)) {
    case GetSODataReply::Data:
      trace().Step("reply classified: data");
      break;
    case GetSODataReply::NoData: {
      trace().Step("reply classified: no data for the company");
      CreateLocalDir(services_.files, services_.paths, job.LocalDir);
      // Cut to 0 bytes in place, so it keeps its permissions; a device or
      // pipe in the caller's place is never opened.
      const auto no_data_target = ReplaceableTarget(services_.files, LocalPath(job, job.LocalFile));
      if (!no_data_target) {
        trace().Fail("the file is not a regular file that can be replaced",
                     ToUtf8(LocalPath(job, job.LocalFile)));
        return Finish(kResultUnpackFailed);
      }
      try {
        WriteWholeFile(services_.files, *no_data_target, {});
      } catch (const FileError& error) {
        FailOnError(trace(), "the empty data file could not be written", error);
        return Finish(kResultUnpackFailed);
      }
      return Finish(kResultOk, kTextNoData);
    }
    case GetSODataReply::ServerError:
      FailOnReply(trace(), kResultServerError, ResponseBytes);
      return Finish(kResultServerError);
    case GetSODataReply::NoResponse:
      FailOnReply(trace(), kResultNoResponse, ResponseBytes);
      return Finish(kResultNoResponse);
    case GetSODataReply::Invalid:
      FailOnReply(trace(), kResultInvalidReply, ResponseBytes);
      return Finish(kResultInvalidReply);
  }

  // A malformed payload is told as such before anything else, as when it
  // was decoded whole; the caller's directory is then as it was.
  try {
    reply.Finish();
  } catch (const DecodeError& error) {
    FailOnError(trace(), "the reply's archive encoding is malformed", error);
    return Finish(kResultInvalidReply);
  } catch (const FileError& error) {
    if (!refusal) {
      FailOnError(trace(), "the received archive could not be written", error);
      return Finish(kResultUnpackFailed);
    }
  }
  trace().Step("decoded the archive: " + std::to_string(reply.decoded()) + " bytes in " +
               FormatMs(reply.decode_ms()) + " as it arrived");
  if (refusal) {
    trace().Fail(refusal->what, refusal->detail);
    return Finish(kResultUnpackFailed);
  }
  trace().Step("wrote " + ToUtf8(stage->File(kReceiveWorkFile)) + ": " +
               std::to_string(reply.decoded()) + " bytes in " + FormatMs(reply.write_ms()));

  const StepClock unpacking;
  try {
    ArchiveControl& trans = PreparedArchiveControl();
    std::u16string unpack_dir = stage->path();
    trans.PutUnpackDir(unpack_dir);
    trans.PutUnpackArchiveName(std::u16string(u"so") + u".zip");
    trans.BeginUnpack();
    trans.Unpack();
    if (const std::int32_t error = trans.GetArchiveError(); error != 0) {
      const std::u16string text = trans.GetArchiveErrorText();
      trace().Fail("the archiver reported an error while unpacking",
                   ArchiveErrorDetail(error, text));
      return Finish(kResultUnpackReported, ControlErrorText(kResultUnpackReported, text));
    }
  } catch (const std::exception& error) {
    FailOnError(trace(), "unpacking failed to run", error);
    return Finish(kResultUnpackFailed);
  } catch (...) {
    trace().Fail("unpacking failed to run");
    return Finish(kResultUnpackFailed);
  }
  trace().Step("unpacked " + ToUtf8(stage->File(kReceiveWorkFile)) + " in " + unpacking.Elapsed());

  window_.SetProgressValue(static_cast<float>(window_.ProgressMax()));
  const StepClock placing;
  const std::u16string member = stage->File(data_name);
  // A directory or a link of the member's name is no data.
  if (services_.files.KindOf(member) != FileKind::kRegular) {
    FailOnError(trace(), "the received file could not be put in place",
                FileError("the archive has no member " + ToUtf8(data_name)));
    return Finish(kResultUnpackFailed);
  }
  const Placement placement =
      PutInPlace(services_.files, services_.paths, member, *target, replace_pauses_ms, trace());
  if (!placement.placed) {
    FailOnPlacement(trace(), LocalPath(job, job.LocalFile), *placement.error, placement.attempts,
                    placing.Elapsed(), placement.kept,
                    placement.keep_error ? &*placement.keep_error : nullptr);
    return Finish(kResultUnpackFailed);
  }
  trace().Step("put in place: " + ToUtf8(*target) + " in " + placing.Elapsed());
  Finish(kResultOk, u"");
}

}  // namespace tolvex
