// What one apartment thread of a loaded Tolvex.dll owns: the Windows back
// ends, the job state, the server address and the one transfer dialog.
// Every Tolvex object made on a thread takes its services from that
// thread's root, so the objects of one thread share one dialog and one
// state, and objects of different threads share nothing mutable.
//
// Thread contract: a root serves calls on the thread that made it, one at
// a time (JobState::CallInProgress refuses any other). It lives while an
// object of its thread holds it: made with the thread's first object,
// destroyed when the last one goes, which is never during a call (the call
// holds its object). Between calls it holds no window, hook, control or
// WinINet handle, so it may be destroyed on any thread, also after its own
// has ended.
#pragma once

#include <memory>

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
  // The calling thread's root, made when the thread has none alive. Safe
  // from any thread.
  static std::shared_ptr<ComponentRoot> ForThisThread();

  explicit ComponentRoot(Key);
  ComponentRoot(const ComponentRoot&) = delete;
  ComponentRoot& operator=(const ComponentRoot&) = delete;

  TolvexServices Services();

 private:
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
