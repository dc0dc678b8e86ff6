// One WinINet exchange told through the Trace: the failing call with its
// error number and name, and, only while steps are wanted, the request
// head as sent and the reply head as received.
#pragma once

#include "com/win32_api.h"

#include <wininet.h>

#include "component/trace.h"

namespace tolvex::win32 {

// Records why `call` failed: "could not connect to the server (WinINet
// error 12029 ERROR_INTERNET_CANNOT_CONNECT in HttpSendRequest)".
void TraceWinInetFailure(Trace& trace, const char* call, DWORD error);

// After a successful send: the request line and headers WinINet sent, the
// reply's status line and headers. Asks WinINet nothing unless steps are
// wanted.
void TraceExchangeHeads(Trace& trace, HINTERNET request);

}  // namespace tolvex::win32
