// Native test client of Tolvex.dll under Wine. One mode per run:
//   registered [stand-in]
//                       what registration must have written (with
//                       TolvexArchiver.dll's classes)
//   unregistered        that unregistration removed it
//   user-registered, user-unregistered
//                       the same for regsvr32 [/u] /n /i:user
//   denied DLLPATH      registrations into keys closed to writing
//   archiver URL WORKDIR LINE [hosted]
//                       a receive and a send; the trace names the archiver
//   calls WORKDIR       vtable and IDispatch calls, object lifetimes
//   unload DLLPATH [URL FILE]
//                       the DLL's entry points called directly; with a URL
//                       also after a receive into FILE
//   dialog URL KEY CODE FILE DPI
//                       the dialog's layout and captions during a receive
//   guest DLLNAME WORKDIR LIVE DEAD SILENT SLOW
//                       the component among the client's own windows and
//                       timer (TolvexTestHooks.dll registered)
//   click URL FILE      a click on the client's button during a call, from
//                       dialog_tests.sh (TolvexTestHooks.dll registered)
//   trace DEADURL URL WORKDIR
//                       the opt-in trace file
//   apartments URL WORKDIR [N [mta]]
//                       N (default 4) apartment threads calling at once;
//                       mta: threads of the multithreaded apartment
//   large URL WORKDIR   a large receive and send, with their peak memory
//   files URL DEADURL WORKDIR UNCDIR
//                       the caller's file held, relative, deep, on a share
//                       (UNCDIR, "-" for none), a device
#include <windows.h>

#include <objbase.h>

#include <cstdio>
#include <string>

#include "call_checks.h"
#include "check.h"
#include "registration_checks.h"

int wmain(int argc, wchar_t** argv) {
  if (FAILED(CoInitialize(nullptr))) return 2;
  const std::wstring mode = argc > 1 ? argv[1] : L"";
  const std::wstring arg = argc > 2 ? argv[2] : L"";
  if (mode == L"registered") {
    wine_client::CheckRegistered(arg == L"stand-in");
  } else if (mode == L"unregistered") {
    wine_client::CheckUnregistered();
  } else if (mode == L"user-registered" || mode == L"user-unregistered") {
    wine_client::CheckUserRegistration(mode == L"user-registered");
  } else if (mode == L"denied" && !arg.empty()) {
    wine_client::CheckDeniedRegistration(arg);
  } else if (mode == L"archiver" && argc > 4) {
    wine_client::CheckArchiver(arg, argv[3], argv[4],
                               argc > 5 && std::wstring(argv[5]) == L"hosted");
  } else if (mode == L"calls" && !arg.empty()) {
    wine_client::CheckCalls(arg);
    wine_client::CheckLifetimes();
  } else if (mode == L"large" && argc > 3) {
    wine_client::CheckLargeTransfers(arg, argv[3]);
  } else if (mode == L"live" && argc > 4) {
    wine_client::CheckLiveReceives(arg, argv[3], _wtoi(argv[4]));
  } else if (mode == L"trace" && argc > 4) {
    wine_client::CheckTraceFile(arg, argv[3], argv[4]);
  } else if (mode == L"apartments" && argc > 3) {
    wine_client::CheckApartments(arg, argv[3], argc > 4 ? _wtoi(argv[4]) : 4,
                                 argc > 5 && std::wstring(argv[5]) == L"mta");
  } else if (mode == L"files" && argc > 5) {
    wine_client::CheckCallersFiles(arg, argv[3], argv[4], argv[5]);
  } else if (mode == L"unload" && !arg.empty()) {
    wine_client::CheckUnloading(arg, argc > 4 ? argv[3] : L"", argc > 4 ? argv[4] : L"");
  } else if (mode == L"dialog" && argc == 7) {
    wine_client::CheckDialog(arg, argv[3], argv[4], argv[5], _wtoi(argv[6]));
  } else if (mode == L"guest" && argc > 7) {
    // Before the first object: the test build reads them once. The slow
    // reply must fit in four periods.
    SetEnvironmentVariableW(L"TOLVEX_START_HOLD_MS", L"300");
    SetEnvironmentVariableW(L"TOLVEX_RESPONSE_PERIOD_MS", L"1500");
    wine_client::CheckGuest(arg, argv[3], argv[4], argv[5], argv[6], argv[7]);
  } else if (mode == L"click" && argc > 3) {
    SetEnvironmentVariableW(L"TOLVEX_START_HOLD_MS", L"600000");
    wine_client::CheckClickDuringCall(arg, argv[3]);
  } else {
    std::fprintf(stderr,
                 "usage: tolvex_client registered [stand-in]|unregistered|calls DIR\n"
                 "                     |user-registered|user-unregistered|denied DLL\n"
                 "                     |archiver URL DIR LINE [hosted]|unload DLL [URL FILE]\n"
                 "                     |dialog URL KEY CODE FILE DPI\n"
                 "                     |guest DLLNAME DIR LIVE DEAD SILENT SLOW|click URL FILE\n"
                 "                     |trace DEADURL URL DIR|apartments URL DIR [N [mta]]\n"
                 "                     |large URL DIR|files URL DEADURL DIR UNCDIR\n");
    CoUninitialize();
    return 2;
  }
  CoUninitialize();
  std::printf("%d failure(s)\n", wine_client::Failures());
  // The drivers pass a client only on this line and a zero status.
  if (wine_client::Failures() == 0) std::printf("all passed\n");
  return wine_client::Failures() == 0 ? 0 : 1;
}
