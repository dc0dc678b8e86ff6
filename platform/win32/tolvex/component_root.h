// What one loaded Tolvex.dll owns: the Windows back ends, the shared job
// state and the one transfer dialog. Every Tolvex object takes its services
// from here, so all of them share one dialog and one state.
#pragma once

#include "backends/chosen_archive_control.h"
#include "backends/cursor_pointer.h"
#include "backends/registry_trace_sink.h"
#include "backends/win32_dialog_window.h"
#include "backends/win32_file_system.h"
#include "backends/wininet_http_session.h"
#include "component/tolvex.h"
#include "tolvex/test_hooks.h"
#include "tolvex/transfer_dialog.h"

namespace tolvex::win32 {

class ComponentRoot {
 public:
  // Made by the first object, kept until the DLL is unloaded.
  static ComponentRoot& Instance();

  TolvexServices Services();

 private:
  ComponentRoot();

  TestHooks hooks_;
  RegistryTraceSink trace_sink_;
  Trace trace_{trace_sink_};
  CursorPointer pointer_;
  Win32FileSystem files_;
  WinInetHttpSession http_;
  ChosenArchiveControl archive_{files_, trace_};
  Win32DialogWindow window_;
  TransferDialog dialog_;
};

}  // namespace tolvex::win32
