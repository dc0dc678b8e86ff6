// The state through which a Tolvex method hands a job to the transfer
// dialog and gets its outcome back (module basTolvex). One instance lives
// as long as the component is loaded and is shared by all Tolvex objects;
// nothing clears it between calls.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tolvex {

struct TransferJob {
  std::u16string ServerUrl;  // as the caller passed it, untrimmed
  // Fixed-length, exactly one character. Written only through
  // SetProcessKind, which cuts or pads like a fixed-length string does.
  char16_t ProcessKind = u'\0';
  std::u16string CompanyCode;  // untrimmed
  std::u16string AccessKey;    // untrimmed
  std::u16string LocalDir;     // no trailing separator
  std::u16string LocalFile;
  std::int16_t ResultCode = 0;

  void SetProcessKind(std::u16string_view kind) { ProcessKind = kind.empty() ? u' ' : kind[0]; }
};

inline constexpr std::int16_t kJobModeSend = 1;
inline constexpr std::int16_t kJobModeReceive = 2;

struct JobState {
  std::u16string ErrorText;
  std::int16_t JobMode = 0;  // 1 runs the send job; any other value the receive job
  std::u16string PostUrl;
  TransferJob RecvJob;
  TransferJob SendJob;
  // A call is showing the transfer dialog. While it is, the dialog runs the
  // message loop, so a client's own handlers can call again; such a call
  // must not rewrite the record of the job that is running.
  bool CallInProgress = false;

  // The record of the job JobMode selects.
  TransferJob& RunningJob() { return JobMode == kJobModeSend ? SendJob : RecvJob; }
};

// The one instance of the loaded component.
JobState& basTolvex();

}  // namespace tolvex
