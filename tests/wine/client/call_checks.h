#pragma once

#include <string>

namespace wine_client {

// Calls through the vtable and through IDispatch with by-reference BSTRs;
// `work_dir` is a scratch directory for the file checks.
void CheckCalls(const std::wstring& work_dir);
// Many objects made and released; reference counts as COM defines them.
void CheckLifetimes();
// DllGetClassObject and DllCanUnloadNow called on the DLL directly.
// With a URL, also a receive into `file` through the loaded DLL.
void CheckUnloading(const std::wstring& dll, const std::wstring& url = L"",
                    const std::wstring& file = L"");
// A receive into `file` while another thread checks the dialog: the system
// DPI is `dpi`; label, progress bar and Cancel lie inside the client area
// without overlapping; their captions have glyphs in the dialog's font and
// fit their controls.
void CheckDialog(const std::wstring& url, const std::wstring& key, const std::wstring& code,
                 const std::wstring& file, int dpi);

// The component as a guest in a client that owns windows and a thread
// timer, on TolvexTestHooks.dll (`dll`, its file name) so the job starts
// late and the response period is short: for each outcome the client's
// windows are disabled and the pointer is the hourglass during the call,
// and all is back after; a client dropping its last reference during the
// post gets a clean return; the control that needs a container works when
// hosted. `live`, `dead`, `silent` and `slow`: a working server, a closed
// port, a server that never answers, one that trickles its reply over
// about 2.5 s.
void CheckGuest(const std::wstring& dll, const std::wstring& work_dir, const std::wstring& live,
                const std::wstring& dead, const std::wstring& silent, const std::wstring& slow);

// A receive on TolvexTestHooks.dll whose job never starts, cancelled by the
// driver (dialog_tests.sh) after it has moved the mouse over the client's
// form "Tolvex client form" and clicked its button; the driver clicks the
// button once more after the call.
void CheckClickDuringCall(const std::wstring& url, const std::wstring& file);
// TraceFile under HKCU\Software\TolvexPro\Tolvex: without it a receive
// writes no file; with it, a receive from the dead URL leaves a trace that
// names WinINet's error, also where a REG_EXPAND_SZ value names it by a
// variable; an unopenable trace file changes no outcome.
void CheckTraceFile(const std::wstring& dead_url, const std::wstring& live_url,
                    const std::wstring& work_dir);

// A receive and a send through whichever archiver the component chooses,
// traced: both return 0 and the trace's archiver line holds
// `expected_line`. hosted: the ProgID names the stand-in that records its
// container, whose record must show the packing or unpacking; otherwise,
// for the built-in archiver, no stand-in may be loaded.
void CheckArchiver(const std::wstring& url, const std::wstring& work_dir,
                   const std::wstring& expected_line, bool hosted);
// `count` threads, each with its own object, company (C1, C2, ...) and
// files, released together into six rounds of receives, sends and both
// side by side against `url`, a server that answers each company with its
// own data after a delay; once, a call from another apartment reaches the
// first object while it is busy (refused with 99 on a single-threaded
// apartment, waited for in the multithreaded one); between two rounds
// that object is called through its vtable from another apartment.
// Single-threaded apartments: then a thread ends before its object is
// released. `multithreaded`: the threads are in the multithreaded
// apartment; then one object is called by two of its threads at once.
// Traced into WORKDIR\apartments\trace.log or WORKDIR\mta\trace.log.
void CheckApartments(const std::wstring& url, const std::wstring& work_dir, int count,
                     bool multithreaded);

// A receive into WORKDIR\\large.txt and a send of WORKDIR\\progress.txt
// from `url`, each with the process's peak resident memory no more than
// 64 MiB above what it held before the call; figures are printed.
void CheckLargeTransfers(const std::wstring& url, const std::wstring& work_dir);

// `times` receives of company C002 (key KEY002) into `file` from a server
// that makes each reply as it sends it, so the reads often wait on it:
// each must end 0 with the whole reply.
void CheckLiveReceives(const std::wstring& url, const std::wstring& file, int times);

// The caller's file as Windows users have it, with the trace on: held open
// by another program briefly and for the whole call (the data is then
// kept beside it), relative, deep, too long, on the share `unc_dir` ("-":
// none), written with forward slashes, and files that cannot take data
// (COM1, NUL, a directory, a read-only file), refused before the post to
// `dead_url`; the new file keeps the old one's attributes and access
// control list.
void CheckCallersFiles(const std::wstring& live_url, const std::wstring& dead_url,
                       const std::wstring& work_dir, const std::wstring& unc_dir);

}  // namespace wine_client
