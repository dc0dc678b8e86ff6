// The component as a guest in a client's own windows, timers and
// container: CheckGuest and CheckClickDuringCall.
#include "call_checks.h"
#include "call_support.h"

#include <windows.h>

#include <oleauto.h>
#include <oleidl.h>

#include <optional>
#include <string>
#include <utility>

#include "check.h"
#include "tolvex_h.h"

namespace wine_client {
namespace {

// What the client sees of the call from its own timer, once the dialog is
// up, and what the timer does then.
struct DuringCall {
  bool seen = false;
  bool main_enabled = true;
  bool third_enabled = true;
  bool other_enabled = true;
  bool hourglass = false;
  HCURSOR shown = nullptr;  // GetCursorInfo
  HRESULT unload_held = E_FAIL;
  HRESULT unload_released = E_FAIL;
  bool acted = false;
};

struct Scene {
  HWND main = nullptr;   // the client's form, enabled and active before the call
  HWND third = nullptr;  // another enabled form, raised during the call
  HWND other = nullptr;  // a form the client had disabled itself
  CanUnload can_unload = nullptr;
  DWORD act_after_ms = 0;
  IUnknown* release = nullptr;  // the last reference, dropped by the timer
  bool close_dialog = false;
  int post_quit = 0;  // not 0: the timer posts a WM_QUIT with this code
  // A second call from the timer, on this busy thread: refused untouched.
  const std::wstring* again_url = nullptr;
  std::wstring again_file;
  short again_result = -1;
  DWORD seen_at = 0;
  DuringCall during;
};
Scene* g_scene = nullptr;

void CALLBACK ClientTimer(HWND, UINT, UINT_PTR, DWORD) {
  Scene& scene = *g_scene;
  HWND dialog = nullptr;
  EnumThreadWindows(GetCurrentThreadId(), FindDialog, reinterpret_cast<LPARAM>(&dialog));
  if (dialog == nullptr || scene.during.acted) return;
  DuringCall& during = scene.during;
  if (!during.seen) {
    during.seen = true;
    scene.seen_at = GetTickCount();
    during.main_enabled = IsWindowEnabled(scene.main) != FALSE;
    during.third_enabled = IsWindowEnabled(scene.third) != FALSE;
    during.other_enabled = IsWindowEnabled(scene.other) != FALSE;
    // Right under the dialog: the window that would be activated next if
    // the dialog did not give activation back itself.
    SetWindowPos(scene.third, dialog, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    // As when the mouse moves over the form: the form sets its own pointer.
    SendMessageW(scene.main, WM_SETCURSOR, reinterpret_cast<WPARAM>(scene.main),
                 MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    during.hourglass = GetCursor() == LoadCursorW(nullptr, IDC_WAIT);
    CURSORINFO info{};
    info.cbSize = sizeof(info);
    if (GetCursorInfo(&info)) during.shown = info.hCursor;
  }
  if (GetTickCount() - scene.seen_at < scene.act_after_ms) return;
  during.acted = true;
  if (scene.can_unload) during.unload_held = scene.can_unload();
  if (scene.release != nullptr) {
    std::exchange(scene.release, nullptr)->Release();
    // What a client's idle processing may do: the DLL must stay.
    CoFreeUnusedLibrariesEx(0, 0);
    if (scene.can_unload) during.unload_released = scene.can_unload();
  }
  if (scene.close_dialog) PostMessageW(dialog, WM_CLOSE, 0, 0);
  if (scene.post_quit != 0) PostQuitMessage(scene.post_quit);
  if (scene.again_url != nullptr) {
    _Tolvex* second = Create();
    if (second != nullptr) {
      HRESULT hr = E_FAIL;
      const short got =
          EarlyBound(second, false, *scene.again_url, L"KEY001", L"C001", scene.again_file, &hr);
      second->Release();
      if (hr == S_OK) scene.again_result = got;
    }
  }
}

int g_clicks = 0;

LRESULT CALLBACK FormProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_COMMAND && HIWORD(wparam) == BN_CLICKED) ++g_clicks;
  return DefWindowProcW(window, message, wparam, lparam);
}

class Form {
 public:
  Form(const wchar_t* title, bool enabled) {
    WNDCLASSW form{};
    form.lpfnWndProc = FormProc;
    form.hInstance = GetModuleHandleW(nullptr);
    form.hCursor = LoadCursorW(nullptr, IDC_CROSS);
    form.lpszClassName = L"TolvexClientForm";
    RegisterClassW(&form);
    window_ = CreateWindowExW(0, L"TolvexClientForm", title, WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10,
                              10, 300, 200, nullptr, nullptr, form.hInstance, nullptr);
    EnableWindow(window_, enabled);
  }
  // A button over the whole client area: wherever a click lands, it counts.
  void AddButton() {
    RECT area{};
    GetClientRect(window_, &area);
    CreateWindowExW(0, L"BUTTON", L"Client button", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 0, 0,
                    area.right, area.bottom, window_, reinterpret_cast<HMENU>(1),
                    GetModuleHandleW(nullptr), nullptr);
  }
  Form(const Form&) = delete;
  Form& operator=(const Form&) = delete;
  ~Form() { DestroyWindow(window_); }
  HWND get() const { return window_; }

 private:
  HWND window_;
};

// A stand-in object that needs a container, driven without one: it must
// refuse, or the checks of the hosting below could not fail.
void CheckStandInRefusesWithoutContainer() {
  CLSID clsid{};
  IDispatch* control = nullptr;
  if (!Check(SUCCEEDED(CLSIDFromProgID(L"TolvexArchiver.NeedsContainer", &clsid)) &&
                 SUCCEEDED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                            reinterpret_cast<void**>(&control))),
             "stand-in that needs a container created")) {
    return;
  }
  IOleObject* ole = nullptr;
  Check(SUCCEEDED(control->QueryInterface(IID_IOleObject, reinterpret_cast<void**>(&ole))),
        "it offers IOleObject");
  if (ole) ole->Release();
  DISPID unpack = DISPID_UNKNOWN;
  LPOLESTR name = const_cast<LPOLESTR>(L"Unpack");
  control->GetIDsOfNames(IID_NULL, &name, 1, 0, &unpack);
  DISPPARAMS none{};
  EXCEPINFO error{};
  const HRESULT hr =
      control->Invoke(unpack, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, &error, nullptr);
  SysFreeString(error.bstrSource);
  SysFreeString(error.bstrDescription);
  SysFreeString(error.bstrHelpFile);
  control->Release();
  const auto hosting = Export<Hosting>(L"TolvexArchiver.dll", "TolvexArchiverHosting");
  Check(hr == DISP_E_EXCEPTION && hosting && (hosting() & kHostRefused),
        "unsited, it refuses to unpack (" + Hex(hr) + ")");

  IUnknown* plain = nullptr;
  IUnknown* ole_plain = nullptr;
  CLSIDFromProgID(L"MarloxO.Marlox", &clsid);
  CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                   reinterpret_cast<void**>(&plain));
  Check(plain && plain->QueryInterface(IID_IOleObject, reinterpret_cast<void**>(&ole_plain)) ==
                     E_NOINTERFACE,
        "the plain stand-in has no IOleObject (the transfers above used it)");
  if (plain) plain->Release();
}

// A client whose timer runs a modal loop of its own for two seconds
// during the post, as a message box does: it dispatches the dialog's
// response timer while the bytes' news waits for the dialog's own loop.
// On a thread of its own, whose share of the component is made with a
// response period of 300 ms, so the two seconds are more than four
// periods.
struct HostLoop {
  std::wstring url, file;
  HANDLE made = nullptr;
  short result = -1;
  DWORD seen_at = 0;
  int nested_ticks = 0;  // the dialog's timer messages the client's loop dispatched
  bool looped = false;
};
HostLoop* g_host_loop = nullptr;

void CALLBACK HostLoopTimer(HWND, UINT, UINT_PTR, DWORD) {
  HostLoop& loop = *g_host_loop;
  HWND dialog = nullptr;
  EnumThreadWindows(GetCurrentThreadId(), FindDialog, reinterpret_cast<LPARAM>(&dialog));
  if (dialog == nullptr || loop.looped) return;
  if (loop.seen_at == 0) loop.seen_at = GetTickCount();
  if (GetTickCount() - loop.seen_at < 500) return;
  loop.looped = true;
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < 2000) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_TIMER && message.hwnd == dialog) ++loop.nested_ticks;
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
  }
}

DWORD WINAPI RunHostLoop(void* param) {
  HostLoop& loop = *static_cast<HostLoop*>(param);
  if (FAILED(CoInitialize(nullptr))) {
    SetEvent(loop.made);
    return 1;
  }
  _Tolvex* object = Create();
  SetEvent(loop.made);
  if (object != nullptr) {
    g_host_loop = &loop;
    HRESULT hr = E_FAIL;
    {
      ThreadTimer timer(50, HostLoopTimer);
      loop.result = EarlyBound(object, false, loop.url, L"KEY001", L"C001", loop.file, &hr);
    }
    g_host_loop = nullptr;
    object->Release();
  }
  CoUninitialize();
  return 0;
}

void CheckHostLoop(const std::wstring& slow, const std::wstring& work_dir) {
  HostLoop loop;
  loop.url = slow;
  loop.file = work_dir + L"\\guest-host-loop.txt";
  DeleteFileW(loop.file.c_str());
  loop.made = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  wchar_t period[16] = {};
  GetEnvironmentVariableW(L"TOLVEX_RESPONSE_PERIOD_MS", period, 16);
  SetEnvironmentVariableW(L"TOLVEX_RESPONSE_PERIOD_MS", L"300");
  const HANDLE thread = CreateThread(nullptr, 0, RunHostLoop, &loop, 0, nullptr);
  WaitForSingleObject(loop.made, INFINITE);
  SetEnvironmentVariableW(L"TOLVEX_RESPONSE_PERIOD_MS", period);
  if (thread != nullptr) {
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
  }
  CloseHandle(loop.made);
  Check(loop.looped && loop.nested_ticks >= 4,
        "the client's own loop ran two seconds during the post and dispatched the dialog's "
        "timer " +
            std::to_string(loop.nested_ticks) + " times");
  Check(loop.result == 0,
        "a trickling receive with the client's own loop during it returns 0, not 91 (got " +
            std::to_string(loop.result) + ")");
}

}  // namespace

void CheckGuest(const std::wstring& dll, const std::wstring& work_dir, const std::wstring& live,
                const std::wstring& dead, const std::wstring& silent, const std::wstring& slow) {
  const std::wstring send_file = work_dir + L"\\guest-progress.txt";
  const std::wstring recv_file = work_dir + L"\\guest-orders.txt";
  WriteFile(send_file, "progress\r\n");
  Form main(L"Client form", true);
  Form other(L"Disabled client form", false);
  Form third(L"Another client form", true);
  const HCURSOR own = LoadCursorW(nullptr, IDC_CROSS);

  enum class Via { Vtable, Dispatch };
  // QuitBefore: the client posts WM_QUIT just before the call; Quit: its
  // timer posts one during the post.
  enum class Action { None, ReleaseLast, Cancel, CallAgain, QuitBefore, Quit };
  struct Case {
    const char* what;
    bool send;
    const std::wstring& url;
    Via via;
    Action action;
    DWORD act_after_ms;  // after the dialog was first seen
    short expected;
    const wchar_t* control;  // the ProgID's class for the call; null: the plain stand-in
  };
  const wchar_t* const stream = L"TolvexArchiver.NeedsContainer";
  const wchar_t* const bag = L"TolvexArchiver.NeedsContainerBag";
  // The calls to the silent server come last: Wine keeps their abandoned
  // requests (and the DLL in use) until the server closes the connection.
  const Case cases[] = {
      {"receive", false, live, Via::Vtable, Action::None, 0, 0, nullptr},
      {"send to a dead port", true, dead, Via::Vtable, Action::None, 0, 9, nullptr},
      {"receive, last reference dropped during the post", false, slow, Via::Vtable,
       Action::ReleaseLast, 800, 0, nullptr},
      {"receive by IDispatch, last reference dropped during the post", false, slow, Via::Dispatch,
       Action::ReleaseLast, 800, 0, nullptr},
      {"receive, a second call from the client's timer during the post", false, slow, Via::Vtable,
       Action::CallAgain, 800, 0, nullptr},
      {"receive with a WM_QUIT queued before the call", false, live, Via::Vtable,
       Action::QuitBefore, 0, 0, nullptr},
      {"receive, the client's WM_QUIT during the post", false, slow, Via::Vtable, Action::Quit, 800,
       99, nullptr},
      {"receive through a control that needs a container", false, live, Via::Vtable, Action::None,
       0, 0, stream},
      {"send through a control that needs a container", true, live, Via::Dispatch, Action::None, 0,
       0, stream},
      {"send through a control initialised from a property bag", true, live, Via::Vtable,
       Action::None, 0, 0, bag},
      {"receive from a silent server", false, silent, Via::Vtable, Action::None, 0, 91, nullptr},
      {"send cancelled", true, silent, Via::Vtable, Action::Cancel, 800, 99, nullptr},
  };
  for (const Case& c : cases) {
    const std::string what = c.what;
    _Tolvex* object = Create();
    if (!Check(object != nullptr, what + ": object created")) continue;
    Scene scene;
    scene.main = main.get();
    scene.third = third.get();
    scene.other = other.get();
    scene.can_unload = Export<CanUnload>(dll.c_str(), "DllCanUnloadNow");
    scene.act_after_ms = c.act_after_ms;
    scene.close_dialog = c.action == Action::Cancel;
    const int quit_code = c.action == Action::QuitBefore ? 41 : c.action == Action::Quit ? 42 : 0;
    if (c.action == Action::Quit) scene.post_quit = quit_code;
    const std::wstring again_file = work_dir + L"\\guest-again.txt";
    DeleteFileW(again_file.c_str());
    if (c.action == Action::CallAgain) {
      scene.again_url = &live;
      scene.again_file = again_file;
      DeleteFileW(recv_file.c_str());
    }
    IDispatch* dispatch = nullptr;
    if (c.via == Via::Dispatch) {
      object->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch));
      object->Release();
      object = nullptr;
    }
    IUnknown* only = dispatch ? static_cast<IUnknown*>(dispatch) : object;
    if (c.action == Action::ReleaseLast) scene.release = only;
    g_scene = &scene;

    SetForegroundWindow(main.get());
    SetActiveWindow(main.get());
    SetCursor(own);
    std::optional<ControlProgId> contained;
    if (c.control != nullptr) contained.emplace(ControlProgId::ClassOf(c.control));
    short got = -1;
    HRESULT hr = E_FAIL;
    {
      ThreadTimer timer(50, ClientTimer);
      if (c.action == Action::QuitBefore) PostQuitMessage(quit_code);
      if (dispatch != nullptr) {
        got = LateBound(dispatch, c.send ? kSendProgress : kRecvSO, c.url, L"KEY001", L"C001",
                        c.send ? send_file : recv_file, &hr);
      } else {
        got = EarlyBound(object, c.send, c.url, L"KEY001", L"C001", c.send ? send_file : recv_file,
                         &hr);
      }
    }
    MSG quit{};
    const bool quit_queued = PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != FALSE;
    contained.reset();
    g_scene = nullptr;
    const DuringCall& during = scene.during;
    if (quit_code != 0) {
      Check(quit_queued && quit.wParam == static_cast<WPARAM>(quit_code),
            what + ": the client's WM_QUIT (" + std::to_string(quit_code) +
                ") is in its queue after the call");
    } else {
      Check(!quit_queued, what + ": no WM_QUIT after the call");
    }
    Check(hr == S_OK && got == c.expected,
          what + ": returns " + std::to_string(c.expected) + " (got " + std::to_string(got) + ")");
    Check(during.seen, what + ": the client's timer ran during the call");
    Check(!during.main_enabled && !during.third_enabled && !during.other_enabled,
          what + ": the client's windows disabled during the call");
    Check(during.hourglass, what + ": hourglass over the client's window during the call");
    Check(during.shown == LoadCursorW(nullptr, IDC_WAIT),
          what + ": GetCursorInfo shows the hourglass during the call");
    Check(IsWindowEnabled(main.get()) && IsWindowEnabled(third.get()) &&
              !IsWindowEnabled(other.get()),
          what + ": exactly the windows enabled before are enabled after");
    Check(GetActiveWindow() == main.get(), what + ": the client's form active again");
    Check(GetCursor() == own, what + ": the client's own pointer back after the call");
    SendMessageW(main.get(), WM_SETCURSOR, reinterpret_cast<WPARAM>(main.get()),
                 MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    Check(GetCursor() == own, what + ": the form sets its own pointer again after the call");
    if (c.action == Action::ReleaseLast) {
      Check(during.acted && during.unload_held == S_FALSE && during.unload_released == S_FALSE,
            what + ": DllCanUnloadNow S_FALSE during the call, before and after the release");
      Check(scene.can_unload && scene.can_unload() == S_OK,
            what + ": DllCanUnloadNow S_OK after: the object is gone");
    } else if (only != nullptr) {
      only->Release();
    }
    if (c.action == Action::CallAgain) {
      Check(during.acted && scene.again_result == 99,
            what + ": the second call is refused with 99 (got " +
                std::to_string(scene.again_result) + ")");
      Check(GetFileAttributesW(again_file.c_str()) == INVALID_FILE_ATTRIBUTES,
            what + ": the refused call wrote no file");
      Check(GetFileAttributesW(recv_file.c_str()) != INVALID_FILE_ATTRIBUTES,
            what + ": the running call still wrote its own file");
    }
    if (c.control != nullptr) {
      const auto hosting = Export<Hosting>(L"TolvexArchiver.dll", "TolvexArchiverHosting");
      const DWORD wanted = kHostedProperly | (c.send ? kHostPacked : kHostUnpacked);
      const DWORD record = hosting ? hosting() : 0;
      Check(record == wanted, what + ": initialised, sited in user mode, closed and unsited (" +
                                  Hex(static_cast<long>(record)) + ", want " +
                                  Hex(static_cast<long>(wanted)) + ")");
    }
  }
  CheckHostLoop(slow, work_dir);
  CheckStandInRefusesWithoutContainer();
}

namespace {

// The mouse over the client's form during the call, as the timer saw it.
struct PointerOverForm {
  HWND form = nullptr;
  int samples = 0;    // with the mouse over the form
  int hourglass = 0;  // of which GetCursorInfo showed the hourglass
};
PointerOverForm* g_pointer = nullptr;

void CALLBACK PointerTimer(HWND, UINT, UINT_PTR, DWORD) {
  HWND dialog = nullptr;
  EnumThreadWindows(GetCurrentThreadId(), FindDialog, reinterpret_cast<LPARAM>(&dialog));
  RECT form{};
  CURSORINFO info{};
  info.cbSize = sizeof(info);
  if (dialog == nullptr || !GetWindowRect(g_pointer->form, &form) || !GetCursorInfo(&info) ||
      !PtInRect(&form, info.ptScreenPos)) {
    return;
  }
  ++g_pointer->samples;
  if (info.hCursor == LoadCursorW(nullptr, IDC_WAIT)) ++g_pointer->hourglass;
}

}  // namespace

void CheckClickDuringCall(const std::wstring& url, const std::wstring& file) {
  Form form(L"Tolvex client form", true);
  form.AddButton();
  PointerOverForm pointer;
  pointer.form = form.get();
  g_pointer = &pointer;
  _Tolvex* object = Create();
  if (!Check(object != nullptr, "object created")) return;
  HRESULT hr = E_FAIL;
  short got = -1;
  {
    ThreadTimer timer(50, PointerTimer);
    got = EarlyBound(object, false, url, L"KEY001", L"C001", file, &hr);
  }
  g_pointer = nullptr;
  object->Release();
  const int during = g_clicks;
  Check(hr == S_OK && got == 99,
        "the call cancelled by the driver returns 99 (got " + std::to_string(got) + ")");
  Check(during == 0, "clicks on the client's button during the call did nothing (" +
                         std::to_string(during) + " arrived)");
  Check(pointer.samples > 0 && pointer.hourglass == pointer.samples,
        "the pointer over the client's form was the hourglass (" +
            std::to_string(pointer.hourglass) + " of " + std::to_string(pointer.samples) + ")");
  // The driver clicks again after the call: the click must arrive now, or
  // the check above proves nothing.
  const DWORD start = GetTickCount();
  MSG message;
  while (g_clicks == during && GetTickCount() - start < 20000) {
    if (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    } else {
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
    }
  }
  Check(g_clicks == during + 1, "the same click after the call reaches the button");
}

}  // namespace wine_client
