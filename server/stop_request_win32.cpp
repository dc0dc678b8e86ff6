#include <windows.h>

#include "stop_request.h"

namespace tolvex::server {
namespace {

// The console handler runs on a thread of the system's; it only signals.
HANDLE stop_event = nullptr;

BOOL WINAPI OnConsoleEvent(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      SetEvent(stop_event);
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

StopRequest::StopRequest() {
  stop_event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

StopRequest::~StopRequest() {
  SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
  CloseHandle(stop_event);
  stop_event = nullptr;
}

void StopRequest::Wait() { WaitForSingleObject(stop_event, INFINITE); }

void StopRequest::Release() { SetEvent(stop_event); }

}  // namespace tolvex::server
