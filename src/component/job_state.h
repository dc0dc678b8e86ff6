// The state through which a Tolvex method hands a job to the transfer
// dialog and gets its outcome back (module basTolvex). The front end owns
// one instance and hands it to every Tolvex object it makes: the command
// one for its life, Tolvex.dll one per apartment thread. Nothing clears it
// between calls.
//
// Thread contract: one thread at a time. Only CallInProgress may be read
// from any thread, so that a call arriving while another runs is refused
// without touching the rest.
#pragma once

#include <atomic>
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

// The member the receive job takes from the server's archive: the company
// code without the trailing spaces the request header cannot carry, with
// ".dat".
std::u16string ReceivedMemberName(std::u16string_view company_code);

inline constexpr std::int16_t kJobModeSend = 1;
inline constexpr std::int16_t kJobModeReceive = 2;

struct JobState {
  std::u16string ErrorText;
  std::int16_t JobMode = 0;  // 1 runs the send job; any other value the receive job
  std::u16string PostUrl;
  TransferJob RecvJob;
  TransferJob SendJob;
  // A call is running, from its first step to its return. While it shows
  // the dialog, the message loop runs the client's own handlers and
  // dispatches calls arriving from other apartments, which may call again;
  // such a call must not rewrite the record of the job that is running.
  std::atomic<bool> CallInProgress{false};

  // The record of the job JobMode selects.
  TransferJob& RunningJob() { return JobMode == kJobModeSend ? SendJob : RecvJob; }
};

}  // namespace tolvex
