// What a loaded Tolvex.dll keeps for the objects that share a job: the
// Windows back ends, the job state, the server address and the one
// transfer dialog. Every Tolvex object made on a single-threaded
// apartment takes its services from that thread's root, so the objects of
// one thread share one dialog and one state. An object made in the
// multithreaded apartment has a root of its own: the apartment has no
// thread whose objects could share one. Roots share nothing mutable.
//
// Thread contract: a root runs one call at a time. A thread's root serves
// calls on that thread (JobState::CallInProgress refuses any other that
// arrives while one runs). An object's own root serves calls from any
// thread of the multithreaded apartment, each run on a thread made for it
// (tolvex/call_apartment.h); they take CallLock() for the whole call, so a
// second call waits for the first. A root lives while an object holds it,
// which is never less than a call (the call holds its object). Between
// calls it holds no window, hook, control or WinINet handle, so it may be
// destroyed on any thread, also after the one that made it has ended.
#pragma once

#include <memory>
#include <mutex>

#include "backends/chosen_archive_control.h"
#include "backends/cursor_pointer.h"
#include "backends/registry_trace_sink.h"
#include "backends/win32_dialog_window.h"
#include "backends/win32_file_system.h"
#include "backends/wininet_http_session.h"
#include "component/job_state.h"
#include "component/tolvex.h"
#include "net/server_address.h"
#include "tolvex/test_hooks.h"
#include "tolvex/transfer_dialog.h"

namespace tolvex::win32 {

class ComponentRoot {
  struct Key {};

 public:
  // The root for an object made on the calling thread: the thread's own
  // on a single-threaded apartment (made when it has none alive), a new
  // one elsewhere. Safe from any thread.
  static std::shared_ptr<ComponentRoot> ForNewObject();

  explicit ComponentRoot(Key);
  ComponentRoot(const ComponentRoot&) = delete;
  ComponentRoot& operator=(const ComponentRoot&) = delete;

  TolvexServices Services();
  // Held by a call from the multithreaded apartment, and by its reads and
  // writes of ErrorMsg, for their whole length.
  std::mutex& CallLock() { return call_lock_; }

 private:
  static std::shared_ptr<ComponentRoot> ForThisThread();

  std::mutex call_lock_;
  TestHooks hooks_;
  RegistryTraceSink trace_sink_;
  Trace trace_{trace_sink_};
  CursorPointer pointer_;
  Win32FileSystem files_;
  JobState state_;         // basTolvex
  ServerAddress address_;  // InetConnect's module state
  WinInetHttpSession http_;
  ChosenArchiveControl archive_{files_, trace_};
  Win32DialogWindow window_;
  TransferDialog dialog_;
};

}  // namespace tolvex::win32
