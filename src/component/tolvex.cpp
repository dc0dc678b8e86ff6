#include "component/tolvex.h"

#include "component/plain_file_name.h"
#include "component/result_codes.h"
#include "component/split_path.h"
#include "component/text.h"

namespace tolvex {
namespace {

// The call as the trace's first line shows it; the key only by its length.
std::string CallTitle(std::int16_t mode, const std::u16string& url, const std::u16string& key,
                      const std::u16string& code, const Variant& file) {
  std::string title = mode == kJobModeSend ? "SendProgress" : "RecvSO";
  title += " URL \"" + ToUtf8(url) + "\" code \"" + ToUtf8(code) + "\" key (" +
           std::to_string(key.size()) + " characters, masked) file ";
  title += file.IsString() ? "\"" + ToUtf8(file.text()) + "\"" : std::string("(not a string)");
  return title;
}

// Why the open check failed, as far as the file shows it.
std::string OpenCheckDetail(FileSystem& files, const std::u16string& path) {
  std::string detail = "open for reading: " + ToUtf8(path);
  FileKind kind = files.KindOf(path);
  if (kind == FileKind::kLink) {
    try {
      kind = files.KindOf(files.ResolveLinks(path));
    } catch (const FileError&) {
      return detail + ": its link cannot be followed";
    }
  }
  switch (kind) {
    case FileKind::kMissing:
      return detail + ": " + std::string(FaultWords(FileFault::kNotFound));
    case FileKind::kDirectory:
      return detail + ": it is a directory";
    case FileKind::kOther:
      return detail + ": " + std::string(FaultWords(FileFault::kNotDiskFile));
    default:
      return detail;
  }
}

}  // namespace

std::int16_t Tolvex::RecvSO(const std::u16string& url, const std::u16string& key,
                            const std::u16string& code, const Variant& file) {
  return Run(kJobModeReceive, url, key, code, file);
}

std::int16_t Tolvex::SendProgress(const std::u16string& url, const std::u16string& key,
                                  const std::u16string& code, const Variant& file) {
  return Run(kJobModeSend, url, key, code, file);
}

std::int16_t Tolvex::Fail(TransferJob& job, std::int16_t code, std::string detail) {
  job.ResultCode = code;
  services_.state.ErrorText = std::u16string(ResultText(code));
  ErrorMsg = services_.state.ErrorText;
  if (!detail.empty()) trace().Fail(std::string(DefaultCause(code)), std::move(detail));
  trace().EndCall(code, ErrorMsg);
  services_.pointer.Set(kPointerDefault);
  return code;
}

std::int16_t Tolvex::Run(std::int16_t mode, const std::u16string& url, const std::u16string& key,
                         const std::u16string& code, const Variant& file) {
  JobState& state = services_.state;
  TransferJob& job = mode == kJobModeSend ? state.SendJob : state.RecvJob;
  // Claimed in one step, before anything else: a call arriving while
  // another runs is refused before it touches the running job's record or
  // dialog, reports no outcome, and leaves one line in the running call's
  // trace.
  if (state.CallInProgress.exchange(true)) {
    trace().Step("another call refused with 99: a call was running on this thread");
    return kResultNoOutcome;
  }
  struct Release {
    std::atomic<bool>& flag;
    ~Release() { flag = false; }
  } release{state.CallInProgress};
  // Before anything that can fail: an error in the steps below returns no
  // outcome, never the record an earlier call left.
  job.ResultCode = kResultNoOutcome;
  state.ErrorText.clear();
  try {
    trace().BeginCall(CallTitle(mode, url, key, code, file), key);
    services_.pointer.Set(kPointerHourglass);

    if (TrimSpaces(url).empty()) return Fail(job, kResultBadUrl);
    if (TrimTrailingSpaces(code).empty()) return Fail(job, kResultBadCompanyCode);
    // The server names the member it delivers after the code, and the
    // data it hands out once must have a file to go to.
    if (mode == kJobModeReceive && !IsPlainFileName(services_.paths, ReceivedMemberName(code))) {
      return Fail(job, kResultBadCompanyCode,
                  "the company code does not make a file name on this system: \"" +
                      ToUtf8(ReceivedMemberName(code)) + "\"");
    }
    if (key.empty()) return Fail(job, kResultBadAccessKey);
    const std::u16string given = file.IsString() ? TrimSpaces(file.text()) : std::u16string();
    if (given.empty()) return Fail(job, kResultBadLocalFile);
    // Once, here: the open check, the split and every step of the job see
    // the same file, whatever the current directory does meanwhile.
    const std::u16string path = services_.files.AbsolutePath(given);
    if (path != given) trace().Step("file as the system names it: \"" + ToUtf8(path) + "\"");

    if (mode == kJobModeSend) {
      if (!services_.files.ProbeOpenForRead(path)) {
        return Fail(job, kResultLocalFileNotFound, OpenCheckDetail(services_.files, path));
      }
      // Outside the open check on purpose: a length query that fails after a
      // successful open is an unexpected error, not "file not found".
      if (services_.files.FileLength(path) == 0) {
        return Fail(job, kResultLocalFileEmpty, "0 bytes: " + ToUtf8(path));
      }
    }

    PathParts parts = SplitPath(path, services_.paths);
    state.JobMode = mode;
    job.SetProcessKind(mode == kJobModeSend ? u"1" : u"3");
    job.ServerUrl = url;
    job.CompanyCode = code;
    job.AccessKey = key;
    job.LocalDir = std::move(parts.dir);
    job.LocalFile = std::move(parts.file);

    state.ErrorText.clear();
    services_.dialog.ShowModal();

    const std::int16_t result = job.ResultCode;
    ErrorMsg = state.ErrorText;
    trace().EndCall(result, ErrorMsg);
    services_.pointer.Set(kPointerDefault);
    return result;
  } catch (...) {
    // Nothing reaches the caller: the outcome is whatever the record holds,
    // and ErrorMsg keeps its previous value.
    try {
      services_.pointer.Set(kPointerDefault);
    } catch (...) {
    }
    try {
      trace().EndCall(job.ResultCode, {});
    } catch (...) {
    }
    return job.ResultCode;
  }
}

}  // namespace tolvex
