// Many apartments at once: CheckApartments.
#include "call_checks.h"
#include "call_support.h"

#include <windows.h>

#include <oleauto.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "check.h"
#include "tolvex_h.h"

namespace wine_client {
namespace {

// What the server holds for company `code` (run.sh writes the same).
std::string CompanyData(const std::wstring& code) {
  std::string data;
  for (int n = 1; n <= 1000; ++n) {
    data += Narrow(code) + ",order-" + std::to_string(n) + "," + std::to_string(n % 7 + 1) + "\r\n";
  }
  return data;
}

// One thread of the client: its company, its files, its object; what its
// call of each round returned.
struct Rounds;

struct Apartment {
  Rounds* rounds = nullptr;
  int index = 0;
  std::wstring code;
  std::wstring recv_file, send_file;
  DWORD thread_id = 0;
  HANDLE thread = nullptr;
  HANDLE ready = nullptr;  // made its object (and marshaled the first one)
  HANDLE done = nullptr;   // returned from this round's call
  bool created = false;
  short result = -1;
  HRESULT hr = E_FAIL;
  std::wstring error_msg;
  std::atomic<ULONGLONG> started{0}, ended{0};
};

struct Rounds {
  std::wstring url;
  DWORD model = COINIT_APARTMENTTHREADED;  // of every thread's apartment
  std::vector<std::vector<bool>> send;     // by round, by apartment: send, else receive
  std::vector<HANDLE> go;                  // by round: all apartments released together
  // The first apartment's object, marshaled to the main thread: by
  // IDispatch, as a script host reaches it, and by _Tolvex, as an
  // early-bound client does.
  IStream* first_dispatch = nullptr;
  IStream* first_vtable = nullptr;
  HRESULT marshaled = E_FAIL;
};

// Waits as the thread of an apartment does: pumping, so calls from other
// apartments can come in.
void WaitPumping(HANDLE event) {
  while (MsgWaitForMultipleObjects(1, &event, FALSE, INFINITE, QS_ALLINPUT) == WAIT_OBJECT_0 + 1) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
  }
}

DWORD WINAPI RunApartment(void* param) {
  Apartment* apartment = static_cast<Apartment*>(param);
  Rounds* rounds = apartment->rounds;
  if (FAILED(CoInitializeEx(nullptr, rounds->model))) {
    SetEvent(apartment->ready);
    return 1;
  }
  _Tolvex* object = Create();
  apartment->created = object != nullptr;
  if (object != nullptr && apartment->index == 0) {
    rounds->marshaled =
        CoMarshalInterThreadInterfaceInStream(IID_IDispatch, object, &rounds->first_dispatch);
    if (SUCCEEDED(rounds->marshaled)) {
      rounds->marshaled =
          CoMarshalInterThreadInterfaceInStream(IID__Tolvex, object, &rounds->first_vtable);
    }
  }
  SetEvent(apartment->ready);
  for (std::size_t r = 0; r < rounds->go.size() && object != nullptr; ++r) {
    WaitPumping(rounds->go[r]);
    const bool send = rounds->send[r][apartment->index];
    apartment->started = GetTickCount64();
    apartment->result =
        EarlyBound(object, send, rounds->url, L"KEY-" + apartment->code, apartment->code,
                   send ? apartment->send_file : apartment->recv_file, &apartment->hr);
    apartment->ended = GetTickCount64();
    apartment->error_msg = ErrorMsg(object);
    SetEvent(apartment->done);
  }
  if (object != nullptr) object->Release();
  CoUninitialize();
  return 0;
}

// The lines of the trace file, each without its line end.
std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  for (std::size_t at = 0; at < text.size();) {
    std::size_t end = text.find("\r\n", at);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(at, end - at));
    at = end + 2;
  }
  return lines;
}

// The "[pid:tid] " tag of a line.
std::string Tag(const std::string& line) {
  const std::size_t open = line.find('[');
  const std::size_t close = line.find("] ", open);
  return open == std::string::npos || close == std::string::npos
             ? std::string()
             : line.substr(open, close + 2 - open);
}

// Lines of the trace file tagged [pid:tid] for one thread.
std::vector<std::string> TraceLinesOf(const std::string& text, DWORD thread) {
  const std::string tag = ":" + std::to_string(thread) + "] ";
  std::vector<std::string> lines;
  for (const std::string& line : Lines(text)) {
    if (line.find(tag) != std::string::npos) lines.push_back(line);
  }
  return lines;
}

bool CallTitle(const std::string& line) {
  return line.find("* RecvSO URL") != std::string::npos ||
         line.find("* SendProgress URL") != std::string::npos;
}

// "YYYY-MM-DD hh:mm:ss.mmm [pid:tid] " then "* ", "> " or "< ".
bool WholeTraceLine(const std::string& line) {
  if (line.size() < 30 || line[4] != '-' || line[10] != ' ' || line[19] != '.' || line[23] != ' ' ||
      line[24] != '[') {
    return false;
  }
  const std::size_t close = line.find("] ", 25);
  if (close == std::string::npos || close + 3 >= line.size()) return false;
  const std::string mark = line.substr(close + 2, 2);
  return mark == "* " || mark == "> " || mark == "< ";
}

// A thread that receives once and ends, leaving its object to the caller
// of the thread: the object outlives its apartment.
struct Orphan {
  std::wstring url, file;
  _Tolvex* object = nullptr;
  short result = -1;
};

DWORD WINAPI RunOrphaningThread(void* param) {
  auto& orphan = *static_cast<Orphan*>(param);
  if (FAILED(CoInitialize(nullptr))) return 1;
  orphan.object = Create();
  if (orphan.object != nullptr) {
    HRESULT hr = E_FAIL;
    orphan.result =
        EarlyBound(orphan.object, false, orphan.url, L"KEY-C1", L"C1", orphan.file, &hr);
  }
  CoUninitialize();
  return 0;
}

// One object of the multithreaded apartment, called by two of its threads
// at once: the first thread makes it.
struct SharedObject {
  std::wstring url;
  std::wstring files[2];
  _Tolvex* object = nullptr;
  HANDLE made = nullptr, go = nullptr;
  short results[2] = {-1, -1};
};

struct SharedCaller {
  SharedObject* shared;
  int index;
};

DWORD WINAPI RunSharedCaller(void* param) {
  const auto caller = *static_cast<SharedCaller*>(param);
  SharedObject& shared = *caller.shared;
  if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return 1;
  if (caller.index == 0) {
    shared.object = Create();
    SetEvent(shared.made);
  }
  WaitForSingleObject(shared.go, INFINITE);
  if (shared.object != nullptr) {
    HRESULT hr = E_FAIL;
    const short got = EarlyBound(shared.object, false, shared.url, L"KEY-C1", L"C1",
                                 shared.files[caller.index], &hr);
    if (hr == S_OK) shared.results[caller.index] = got;
  }
  CoUninitialize();
  return 0;
}

void CheckSharedObject(const std::wstring& url, const std::wstring& dir) {
  const std::wstring trace = dir + L"\\shared-trace.log";
  DeleteFileW(trace.c_str());
  SetTraceFile(&trace);
  SharedObject shared;
  shared.url = url;
  shared.made = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  shared.go = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  SharedCaller callers[2] = {{&shared, 0}, {&shared, 1}};
  HANDLE threads[2] = {};
  for (int i = 0; i < 2; ++i) {
    shared.files[i] = dir + L"\\shared-" + std::to_wstring(i + 1) + L".txt";
    DeleteFileW(shared.files[i].c_str());
  }
  threads[0] = CreateThread(nullptr, 0, RunSharedCaller, &callers[0], 0, nullptr);
  WaitForSingleObject(shared.made, INFINITE);
  threads[1] = CreateThread(nullptr, 0, RunSharedCaller, &callers[1], 0, nullptr);
  SetEvent(shared.go);
  WaitForMultipleObjects(2, threads, TRUE, INFINITE);
  if (shared.object != nullptr) shared.object->Release();
  for (HANDLE handle : {threads[0], threads[1], shared.made, shared.go}) CloseHandle(handle);
  SetTraceFile(nullptr);
  Check(shared.results[0] == 0 && shared.results[1] == 0,
        "one object called by two threads of the multithreaded apartment at once: both 0 (got " +
            std::to_string(shared.results[0]) + ", " + std::to_string(shared.results[1]) + ")");
  Check(ReadAll(shared.files[0]) == CompanyData(L"C1") &&
            ReadAll(shared.files[1]) == CompanyData(L"C1"),
        "both of the shared object's receives wrote C1's data");
  // One after the other: each call's result line before the next title.
  std::string order;
  for (const std::string& line : Lines(ReadAll(trace))) {
    if (CallTitle(line)) order += 'T';
    if (line.find("* result ") != std::string::npos) order += 'R';
    if (line.find("another call refused") != std::string::npos) order += '!';
  }
  Check(order == "TRTR",
        "the shared object's calls ran one after the other (trace: " + order + ")");
}

}  // namespace

void CheckApartments(const std::wstring& url, const std::wstring& work_dir, int count,
                     bool multithreaded) {
  const std::string model = multithreaded ? "multithreaded" : "apartment";
  const std::wstring dir = work_dir + (multithreaded ? L"\\mta" : L"\\apartments");
  CreateDirectoryW(dir.c_str(), nullptr);
  const std::wstring trace = dir + L"\\trace.log";
  DeleteFileW(trace.c_str());
  SetTraceFile(&trace);

  // Receives, sends, and both side by side, twice over.
  Rounds rounds;
  rounds.url = url;
  rounds.model = multithreaded ? COINIT_MULTITHREADED : COINIT_APARTMENTTHREADED;
  for (int pattern = 0; pattern < 6; ++pattern) {
    std::vector<bool> send(count);
    for (int i = 0; i < count; ++i) {
      send[i] = pattern % 4 == 1 || (pattern == 2 && i % 2 == 1) || (pattern == 3 && i % 2 == 0);
    }
    rounds.send.push_back(send);
    rounds.go.push_back(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  }
  std::vector<Apartment> apartments(count);
  for (int i = 0; i < count; ++i) {
    Apartment& a = apartments[i];
    a.rounds = &rounds;
    a.index = i;
    a.code = L"C" + std::to_wstring(i + 1);
    CreateDirectoryW((dir + L"\\" + a.code).c_str(), nullptr);
    a.recv_file = dir + L"\\" + a.code + L"\\orders.txt";
    a.send_file = dir + L"\\" + a.code + L"\\progress-" + a.code + L".txt";
    DeleteFileW(a.recv_file.c_str());
    a.ready = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    a.done = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    a.thread = CreateThread(nullptr, 0, RunApartment, &a, 0, &a.thread_id);
  }
  bool created = true;
  for (Apartment& a : apartments) {
    WaitForSingleObject(a.ready, INFINITE);
    created = created && a.created;
  }
  Check(created, std::to_string(count) + " " + model + " threads made their objects");
  // Each apartment loads the DLL for itself and may let it go as it ends:
  // held here, so DllCanUnloadNow can be asked after the last one.
  wchar_t dll_path[MAX_PATH] = {};
  GetModuleFileNameW(GetModuleHandleW(L"Tolvex.dll"), dll_path, MAX_PATH);
  const HMODULE pinned = LoadLibraryW(dll_path);
  IDispatch* foreign = nullptr;
  _Tolvex* foreign_vtable = nullptr;
  HRESULT unmarshaled = E_FAIL;
  if (rounds.first_dispatch != nullptr && rounds.first_vtable != nullptr) {
    unmarshaled = CoGetInterfaceAndReleaseStream(rounds.first_dispatch, IID_IDispatch,
                                                 reinterpret_cast<void**>(&foreign));
    if (SUCCEEDED(unmarshaled)) {
      unmarshaled = CoGetInterfaceAndReleaseStream(rounds.first_vtable, IID__Tolvex,
                                                   reinterpret_cast<void**>(&foreign_vtable));
    }
  }
  Check(foreign != nullptr && foreign_vtable != nullptr,
        "the first thread's object marshaled to the main thread by IDispatch and by _Tolvex (" +
            Hex(rounds.marshaled) + ", " + Hex(unmarshaled) + ")");

  int calls = 0, returned_0 = 0;
  bool foreign_called = false, vtable_called = false;
  ULONGLONG foreign_end = 0;
  const std::wstring foreign_file = dir + L"\\foreign.txt";
  for (std::size_t r = 0; r < rounds.go.size(); ++r) {
    const std::string round = "round " + std::to_string(r + 1);
    for (Apartment& a : apartments) {
      if (rounds.send[r][a.index]) {
        WriteFile(a.send_file, "progress of " + Narrow(a.code) + " " + round + "\r\n");
      }
    }
    SetEvent(rounds.go[r]);
    // Once in the first round: a call from this apartment reaches the first
    // thread's object while that thread runs its own call. On its
    // single-threaded apartment it is refused at once; in the
    // multithreaded one it waits for the running call, then runs.
    if (!foreign_called && foreign != nullptr && !rounds.send[r][0]) {
      foreign_called = true;
      HWND dialog = nullptr;
      for (int i = 0; i < 1000 && apartments[0].started == 0; ++i) Sleep(10);
      for (int i = 0; i < 100 && dialog == nullptr && !multithreaded; ++i) {
        EnumThreadWindows(apartments[0].thread_id, FindDialog, reinterpret_cast<LPARAM>(&dialog));
        if (dialog == nullptr) Sleep(10);
      }
      if (multithreaded) Sleep(300);  // well inside the first thread's 1.5 s post
      DeleteFileW(foreign_file.c_str());
      HRESULT hr = E_FAIL;
      const short got = LateBound(foreign, kRecvSO, url, L"KEY-C2", L"C2", foreign_file, &hr);
      foreign_end = GetTickCount64();
      if (multithreaded) {
        Check(hr == S_OK && got == 0,
              "a call from another apartment on the busy first object waits and returns 0 (got " +
                  std::to_string(got) + ")");
        Check(ReadAll(foreign_file) == CompanyData(L"C2"), "the waiting call wrote C2's data");
      } else {
        Check(dialog != nullptr && hr == S_OK && got == 99,
              "a call from another apartment on the busy first thread is refused with 99 (got " +
                  std::to_string(got) + ")");
        Check(IsWindow(dialog) && IsWindowVisible(dialog),
              "the running call's dialog is still shown after the refusal");
        Check(GetFileAttributesW(foreign_file.c_str()) == INVALID_FILE_ATTRIBUTES,
              "the refused call wrote no file");
      }
      // Released while the first thread's call may still run.
      std::exchange(foreign, nullptr)->Release();
    }
    ULONGLONG last_start = 0, first_end = ~0ULL;
    for (Apartment& a : apartments) {
      // Pumping: the first apartment's object may be released from here.
      WaitPumping(a.done);
      last_start = std::max(last_start, a.started.load());
      first_end = std::min(first_end, a.ended.load());
      const bool send = rounds.send[r][a.index];
      const std::string what = round + ": " + Narrow(a.code) + (send ? " send" : " receive");
      ++calls;
      const bool ok = Check(a.hr == S_OK && a.result == 0 && a.error_msg.empty(),
                            what + " returns 0 (got " + std::to_string(a.result) + ")");
      if (ok) ++returned_0;
      if (!send) {
        Check(ReadAll(a.recv_file) == CompanyData(a.code),
              what + ": the file holds " + Narrow(a.code) + "'s data");
      }
    }
    Check(last_start < first_end, round + ": the " + std::to_string(count) +
                                      " calls ran at the same time (last start before first end)");
    if (r == 0 && multithreaded && foreign_called) {
      Check(foreign_end >= apartments[0].ended + 1000,
            "the waiting call returned after the first thread's call, a whole post later (" +
                std::to_string(foreign_end - apartments[0].ended) + " ms)");
    }
    // Between the rounds, with the first thread idle: the dual interface
    // called through its vtable from another apartment.
    if (r == 0 && foreign_vtable != nullptr) {
      vtable_called = true;
      const std::wstring file = dir + L"\\vtable.txt";
      DeleteFileW(file.c_str());
      HRESULT hr = E_FAIL;
      const short got = EarlyBound(foreign_vtable, false, url, L"KEY-C1", L"C1", file, &hr);
      const std::wstring message = ErrorMsg(foreign_vtable);
      Check(hr == S_OK && got == 0 && message.empty() && ReadAll(file) == CompanyData(L"C1"),
            "_Tolvex marshaled to another apartment: RecvSO through the vtable -> 0 with C1's "
            "data (" +
                Hex(hr) + ", got " + std::to_string(got) + ")");
      std::exchange(foreign_vtable, nullptr)->Release();
    }
  }
  if (foreign != nullptr) foreign->Release();
  if (foreign_vtable != nullptr) foreign_vtable->Release();
  for (Apartment& a : apartments) {
    WaitForSingleObject(a.thread, INFINITE);
    CloseHandle(a.thread);
    CloseHandle(a.ready);
    CloseHandle(a.done);
  }
  for (HANDLE go : rounds.go) CloseHandle(go);
  SetTraceFile(nullptr);

  if (multithreaded) {
    CheckSharedObject(url, dir);
  } else {
    Orphan orphan{url, dir + L"\\orphan.txt"};
    const HANDLE orphaning = CreateThread(nullptr, 0, RunOrphaningThread, &orphan, 0, nullptr);
    if (orphaning != nullptr) {
      WaitForSingleObject(orphaning, INFINITE);
      CloseHandle(orphaning);
    }
    Check(orphan.object != nullptr && orphan.result == 0 &&
              ReadAll(orphan.file) == CompanyData(L"C1"),
          "a thread that received once and ended left its object behind (got " +
              std::to_string(orphan.result) + ")");
    // Released here, after its thread has gone: its thread's share of the
    // component goes with it, holding no window or control any more.
    if (orphan.object != nullptr) {
      Check(orphan.object->Release() == 0, "the object of the ended thread released");
    }
  }
  std::printf("%s: %zu rounds, %d calls, %d returned 0\n", model.c_str(), rounds.go.size(), calls,
              returned_0);
  const auto can_unload = Export<CanUnload>(L"Tolvex.dll", "DllCanUnloadNow");
  Check(pinned && can_unload && can_unload() == S_OK,
        "DllCanUnloadNow S_OK once every thread has released its object");
  if (pinned) FreeLibrary(pinned);

  // The trace: every line whole and tagged; each call naming its own
  // company only. On a single-threaded apartment a thread's calls are
  // traced under that thread; from the multithreaded one each call under
  // the thread made for it.
  const std::vector<std::string> lines = Lines(ReadAll(trace));
  std::size_t whole = 0;
  for (const std::string& line : lines) whole += WholeTraceLine(line) ? 1 : 0;
  Check(!lines.empty() && whole == lines.size(), "every trace line is whole and tagged (" +
                                                     std::to_string(whole) + " of " +
                                                     std::to_string(lines.size()) + ")");
  for (const Apartment& a : apartments) {
    const std::string code = "code \"" + Narrow(a.code) + "\"";
    int titles = 0, own = 0, results = 0, refusals = 0;
    if (!multithreaded) {
      for (const std::string& line : TraceLinesOf(ReadAll(trace), a.thread_id)) {
        if (CallTitle(line)) {
          ++titles;
          if (line.find(code) != std::string::npos) ++own;
        }
        if (line.find("* result 0") != std::string::npos) ++results;
        if (line.find("a call was running on this thread") != std::string::npos) ++refusals;
      }
    } else {
      for (const std::string& line : lines) {
        if (!CallTitle(line) || line.find(code) == std::string::npos) continue;
        ++titles;
        ++own;
        const std::string tag = Tag(line);
        for (const std::string& other : lines) {
          if (Tag(other) == tag && other.find("* result 0") != std::string::npos) {
            ++results;
            break;
          }
        }
      }
      for (const std::string& line : lines) {
        if (line.find("a call was running on this thread") != std::string::npos) ++refusals;
      }
    }
    // The first object's vtable call is its own thread's, or C1's; the
    // waiting call from another apartment is C2's.
    const int expected = static_cast<int>(rounds.go.size()) + (vtable_called && a.index == 0) +
                         (multithreaded && foreign_called && a.index == 1);
    const int expected_refusals = !multithreaded && a.index == 0 && foreign_called ? 1 : 0;
    Check(titles == expected && own == titles && results == titles && refusals == expected_refusals,
          Narrow(a.code) + "'s calls traced: " + std::to_string(titles) + " of " +
              std::to_string(expected) + ", " + std::to_string(own) + " for " + Narrow(a.code) +
              ", " + std::to_string(results) + " with result 0, " + std::to_string(refusals) +
              " refusal(s)");
  }
}

}  // namespace wine_client
