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
}  // namespace

void FrmTolvex::RunReceive() {
  TransferJob& job = services_.state.RecvJob;
  window_.SetLabelCaption(u"受信(" + job.ServerUrl + u")");
  window_.Refresh();

  // The server hands its data out once: a file or directory that could
  // not take it is refused before it is asked.
  const std::u16string local_path = LocalPath(job, job.LocalFile);
  if (const auto unfit = ReceiveTargetRefusal(services_.files, local_path)) {
    trace().Fail(ToUtf8(local_path) + " cannot take received data: " + *unfit);
    return Finish(kResultUnpackFailed);
  }
  // A link stays a link and the file it leads to is replaced.
  const std::optional<std::u16string> target = ReplaceableTarget(services_.files, local_path);
  if (!target) {
    trace().Fail("the file is not a regular file that can be replaced", ToUtf8(local_path));
    return Finish(kResultUnpackFailed);
  }
  // The archive and everything in it stay in a directory of this call's
  // own beside the file it replaces, on that file's volume, and go with it
  // on every outcome (Cancel and the response timer included): nothing of
  // the server's lands among the caller's files but the one member, by the
  // final rename, or the received data kept when it cannot be. Declared
  // before the reply, so the work file is closed before the directory goes.
  const std::u16string stage_parent = ParentDirectory(services_.paths, *target);
  std::optional<StagingDirectory> stage;
  if (const auto unfit =
          StagingRefusal(services_.files, services_.paths, stage_parent, stage, trace())) {
    trace().Fail(ToUtf8(stage_parent) + " cannot take received data: " + *unfit);
    return Finish(kResultUnpackFailed);
  }

  const std::u16string code = TrimTrailingSpaces(job.CompanyCode);
  const std::u16string data_name = ReceivedMemberName(job.CompanyCode);
  // The payload is decoded into the work file from its first byte on, on
  // the post's thread; a directory still to be made is made then.
  ArchiveReplySink reply(ResponseBytes, [&]() -> std::unique_ptr<WritableFile> {
    if (!stage) {
      CreateDirectoryChain(services_.files, services_.paths, job.LocalDir);
      stage.emplace(services_.files, services_.paths, stage_parent, trace());
    }
    return services_.files.CreateNew(stage->File(kReceiveWorkFile));
  });
  // Once the whole archive is in the work file, no way out loses it: it
  // goes beside the caller's file, and the cause says where.
  const auto keep_archive = [&] {
    const Kept kept =
        KeepBeside(services_.files, services_.paths, stage->File(kReceiveWorkFile), *target,
                   KeptName{LocalTimeStamp(), u".zip", code + u".zip"}, trace());
    const std::string note = KeptNote(kept, "archive");
    trace().Step(note);
    trace().AddToCause(note);
  };

  const Bytes header = RequestHeaderBody(services_.http, job);
  BytesBody body(header);
  if (!PostToServlet(job, kServletGetSOData, body, reply, false)) {
    // Closed by Cancel or the response timer after the last byte came.
    if (reply_complete_ && ClassifyGetSODataReply(ResponseBytes) == GetSODataReply::Data) {
      try {
        reply.Finish();
        keep_archive();
      } catch (const std::exception& error) {
        trace().Step(std::string("the reply was not kept: ") + error.what());
      }
    }
    return;
  }
  window_.SetLabelCaption(u"ﾎﾟｽﾄが終了しました");
  window_.Refresh();
  ShowHalfProgress();

  switch (ClassifyGetSODataReply(ResponseBytes)) {
    case GetSODataReply::Data:
      trace().Step("reply classified: data");
      break;
    case GetSODataReply::NoData: {
      trace().Step("reply classified: no data for the company");
      stage.reset();
      CreateLocalDir(services_.files, services_.paths, job.LocalDir);
      // Cut to 0 bytes in place, so it keeps its permissions; a device or
      // pipe in the caller's place is never opened.
      const auto no_data_target = ReplaceableTarget(services_.files, local_path);
      if (!no_data_target) {
        trace().Fail("the file is not a regular file that can be replaced", ToUtf8(local_path));
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
  // was decoded whole; it is not the server's data and is not kept.
  try {
    reply.Finish();
  } catch (const DecodeError& error) {
    FailOnError(trace(), "the reply's archive encoding is malformed", error);
    return Finish(kResultInvalidReply);
  } catch (const FileError& error) {
    FailOnError(trace(), "the received archive could not be written", error);
    return Finish(kResultUnpackFailed);
  }
  trace().Step("decoded the archive: " + std::to_string(reply.decoded()) + " bytes in " +
               FormatMs(reply.decode_ms()) + " as it arrived");
  trace().Step("wrote " + ToUtf8(stage->File(kReceiveWorkFile)) + ": " +
               std::to_string(reply.decoded()) + " bytes in " + FormatMs(reply.write_ms()));

  const StepClock unpacking;
  try {
    ArchiveControl& trans = PreparedArchiveControl();
    std::u16string unpack_dir = stage->path();
    trans.PutUnpackDir(unpack_dir);
    trans.PutUnpackArchiveName(std::u16string(u"so") + u".zip");
    trans.BeginUnpack();
    RunArchiveStep(trans, [&] { trans.Unpack(); });
    const std::int32_t error = unloaded_ ? 0 : trans.GetArchiveError();
    if (error != 0) {
      const std::u16string text = trans.GetArchiveErrorText();
      trace().Fail("the archiver reported an error while unpacking",
                   ArchiveErrorDetail(error, text));
      keep_archive();
      return Finish(kResultUnpackReported, ControlErrorText(kResultUnpackReported, text));
    }
  } catch (const std::exception& error) {
    FailOnError(trace(), "unpacking failed to run", error);
    keep_archive();
    return Finish(kResultUnpackFailed);
  } catch (...) {
    trace().Fail("unpacking failed to run");
    keep_archive();
    return Finish(kResultUnpackFailed);
  }
  if (unloaded_) {
    // Cancelled while it unpacked: the caller's file stays as it was, and
    // the whole archive that came is kept as after any failure.
    try {
      keep_archive();
    } catch (const std::exception& error) {
      trace().Step(std::string("the reply was not kept: ") + error.what());
    }
    return;
  }
  trace().Step("unpacked " + ToUtf8(stage->File(kReceiveWorkFile)) + " in " + unpacking.Elapsed());

  window_.SetProgressValue(static_cast<float>(window_.ProgressMax()));
  const StepClock placing;
  const std::u16string member = stage->File(data_name);
  // A directory or a link of the member's name is no data.
  if (services_.files.KindOf(member) != FileKind::kRegular) {
    FailOnError(trace(), "the received file could not be put in place",
                FileError("the archive has no member " + ToUtf8(data_name)));
    keep_archive();
    return Finish(kResultUnpackFailed);
  }
  const Placement placement = PutInPlace(
      services_.files, services_.paths, member, *target, KeptName{LocalTimeStamp(), u"", data_name},
      replace_pauses_ms, trace(), [this](std::uint32_t ms) { return PauseBeforeRetry(ms); });
  if (!placement.placed) {
    FailOnPlacement(trace(), local_path, *placement.error, placement.attempts, placing.Elapsed(),
                    placement.kept);
    return Finish(kResultUnpackFailed);
  }
  trace().Step("put in place: " + ToUtf8(*target) + " in " + placing.Elapsed());
  Finish(kResultOk, u"");
}

}  // namespace tolvex
