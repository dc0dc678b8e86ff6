#include "call_checks.h"

#include <windows.h>

#include <oleauto.h>
#include <oleidl.h>
#include <psapi.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cwchar>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "check.h"
#include "project_version.h"
#include "tolvex_h.h"

namespace wine_client {
namespace {

constexpr DISPID kRecvSO = 0x60030001;
constexpr DISPID kSendProgress = 0x60030002;
constexpr DISPID kErrorMsg = 0x40030000;

// The texts of the argument checks, in UTF-16.
const wchar_t kBadUrl[] =
    L"\u767A\u6CE8\u5074\u30B5\u30FC\u30D0\u30A2\u30C9\u30EC\u30B9\u30A8\u30E9\u30FC";
const wchar_t kBadFile[] =
    L"\u30ED\u30FC\u30AB\u30EB\u9001\u4FE1\u30D5\u30A1\u30A3\u30EB\u540D\u30A8\u30E9\u30FC";

class Bstr {
 public:
  explicit Bstr(const std::wstring& text) : value_(SysAllocString(text.c_str())) {}
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  ~Bstr() { SysFreeString(value_); }
  BSTR* address() { return &value_; }
  BSTR get() const { return value_; }

 private:
  BSTR value_;
};

_Tolvex* Create() {
  CLSID clsid{};
  _Tolvex* object = nullptr;
  if (FAILED(CLSIDFromProgID(L"TolvexPro.Tolvex", &clsid))) return nullptr;
  if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID__Tolvex,
                              reinterpret_cast<void**>(&object)))) {
    return nullptr;
  }
  return object;
}

std::wstring ErrorMsg(_Tolvex* object) {
  BSTR text = nullptr;
  object->get_ErrorMsg(&text);
  std::wstring out = text ? std::wstring(text, SysStringLen(text)) : std::wstring();
  SysFreeString(text);
  return out;
}

short EarlyBound(_Tolvex* object, bool send, const std::wstring& url, const std::wstring& key,
                 const std::wstring& code, VARIANT* file, HRESULT* hr) {
  Bstr u(url), k(key), c(code);
  short result = -1;
  *hr = send ? object->SendProgress(u.address(), k.address(), c.address(), file, &result)
             : object->RecvSO(u.address(), k.address(), c.address(), file, &result);
  return result;
}

// The same with the file as a String Variant holding `path`.
short EarlyBound(_Tolvex* object, bool send, const std::wstring& url, const std::wstring& key,
                 const std::wstring& code, const std::wstring& path, HRESULT* hr) {
  VARIANT file;
  VariantInit(&file);
  V_VT(&file) = VT_BSTR;
  V_BSTR(&file) = SysAllocString(path.c_str());
  const short result = EarlyBound(object, send, url, key, code, &file, hr);
  VariantClear(&file);
  return result;
}

// Invoke with every argument VT_BYREF|VT_BSTR, as an early-bound VB
// client's variables arrive through IDispatch.
short LateBound(IDispatch* object, DISPID id, const std::wstring& url, const std::wstring& key,
                const std::wstring& code, const std::wstring& file, HRESULT* hr) {
  Bstr u(url), k(key), c(code), f(file);
  VARIANT args[4];
  BSTR* values[4] = {f.address(), c.address(), k.address(), u.address()};  // reversed
  for (int i = 0; i < 4; ++i) {
    VariantInit(&args[i]);
    V_VT(&args[i]) = VT_BYREF | VT_BSTR;
    V_BSTRREF(&args[i]) = values[i];
  }
  DISPPARAMS params{args, nullptr, 4, 0};
  VARIANT result;
  VariantInit(&result);
  *hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD | DISPATCH_PROPERTYGET,
                       &params, &result, nullptr, nullptr);
  const short code_out = V_VT(&result) == VT_I2 ? V_I2(&result) : -1;
  VariantClear(&result);
  return code_out;
}

void WriteFile(const std::wstring& path, const std::string& bytes) {
  std::ofstream out(std::filesystem::path(path), std::ios::binary);
  out << bytes;
}

// The dialog as a watching thread finds it while the caller's thread
// runs a receive: the controls by class, their rectangles in the
// dialog's client coordinates, the label's text and font.
struct DialogControl {
  const wchar_t* cls;
  const char* what;
  HWND window = nullptr;
  RECT rect{};
};

struct DialogWatch {
  DWORD caller_thread = 0;
  int dpi = 0;
  std::wstring receive_caption;  // what the label says as the receive starts
  HWND dialog = nullptr;
  bool looked = false;
};

BOOL CALLBACK OnCallerWindow(HWND window, LPARAM param) {
  wchar_t title[16] = {};
  GetWindowTextW(window, title, 16);
  if (!IsWindowVisible(window) || std::wstring(title) != L"Tolvex") return TRUE;
  reinterpret_cast<DialogWatch*>(param)->dialog = window;
  return FALSE;
}

// Through the dialog's own thread, which must keep pumping: a stuck
// dialog fails the check instead of hanging it.
std::wstring TextOf(HWND window) {
  wchar_t text[256] = {};
  DWORD_PTR copied = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXT, 256, reinterpret_cast<LPARAM>(text),
                           SMTO_ABORTIFHUNG, 2000, &copied)) {
    return L"";
  }
  return std::wstring(text, copied);
}

HFONT FontOf(HWND window) {
  DWORD_PTR font = 0;
  SendMessageTimeoutW(window, WM_GETFONT, 0, 0, SMTO_ABORTIFHUNG, 2000, &font);
  return reinterpret_cast<HFONT>(font);
}

// Every character of `text` has a glyph in `font` (no boxes), and the text
// fits the control it is drawn in.
void CheckCaption(HDC dc, HWND control, const std::wstring& text, const char* what) {
  const HGDIOBJ previous = SelectObject(dc, FontOf(control));
  std::vector<WORD> glyphs(text.size());
  const DWORD mapped = GetGlyphIndicesW(dc, text.c_str(), static_cast<int>(text.size()),
                                        glyphs.data(), GGI_MARK_NONEXISTING_GLYPHS);
  bool every = mapped == text.size() && !text.empty();
  for (const WORD glyph : glyphs) every = every && glyph != 0xFFFF;
  wchar_t face[LF_FACESIZE] = {};
  GetTextFaceW(dc, LF_FACESIZE, face);
  SIZE extent{};
  GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &extent);
  SelectObject(dc, previous);
  RECT inside{};
  GetClientRect(control, &inside);
  Check(every, std::string(what) + ": a glyph for every character in " + Narrow(face));
  Check(extent.cx <= inside.right && extent.cy <= inside.bottom,
        std::string(what) + ": " + std::to_string(extent.cx) + "x" + std::to_string(extent.cy) +
            " of text fits " + std::to_string(inside.right) + "x" + std::to_string(inside.bottom));
}

void CheckDialogLayout(DialogWatch& watch) {
  const HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  Check(dpi == watch.dpi,
        "system DPI " + std::to_string(dpi) + ", " + std::to_string(watch.dpi) + " wanted");
  DialogControl controls[] = {
      {L"Static", "label"}, {L"msctls_progress32", "progress bar"}, {L"Button", "Cancel"}};
  for (HWND child = GetWindow(watch.dialog, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    wchar_t cls[64] = {};
    GetClassNameW(child, cls, 64);
    for (DialogControl& control : controls) {
      if (_wcsicmp(cls, control.cls) == 0 && control.window == nullptr) control.window = child;
    }
  }
  RECT client{};
  GetClientRect(watch.dialog, &client);
  for (DialogControl& control : controls) {
    if (!Check(control.window != nullptr, std::string("the dialog has a ") + control.what)) {
      ReleaseDC(nullptr, screen);
      return;
    }
    GetWindowRect(control.window, &control.rect);
    MapWindowPoints(nullptr, watch.dialog, reinterpret_cast<POINT*>(&control.rect), 2);
    const RECT& r = control.rect;
    Check(r.left >= 0 && r.top >= 0 && r.right <= client.right && r.bottom <= client.bottom &&
              r.right > r.left && r.bottom > r.top,
          std::string(control.what) + " (" + std::to_string(r.left) + "," + std::to_string(r.top) +
              ")-(" + std::to_string(r.right) + "," + std::to_string(r.bottom) +
              ") inside the client area " + std::to_string(client.right) + "x" +
              std::to_string(client.bottom));
  }
  for (std::size_t i = 0; i < std::size(controls); ++i) {
    for (std::size_t j = i + 1; j < std::size(controls); ++j) {
      RECT common{};
      Check(!IntersectRect(&common, &controls[i].rect, &controls[j].rect),
            std::string(controls[i].what) + " and " + controls[j].what + " do not overlap");
    }
  }
  // The receive's own caption is replaced by the post's within one paint:
  // it is checked here, and shown again below for the screenshot.
  CheckCaption(screen, controls[0].window, watch.receive_caption, "label");
  CheckCaption(screen, controls[2].window, TextOf(controls[2].window), "Cancel");
  ReleaseDC(nullptr, screen);
  watch.looked = true;

  SendMessageTimeoutW(controls[0].window, WM_SETTEXT, 0,
                      reinterpret_cast<LPARAM>(watch.receive_caption.c_str()), SMTO_ABORTIFHUNG,
                      2000, nullptr);
  std::printf("label showing the receive caption for the screenshot\n");
  std::fflush(stdout);
  Sleep(3000);
  Check(TextOf(controls[0].window) == watch.receive_caption,
        "the label kept the receive caption for the screenshot");
}

// Waits up to 30 s for the dialog, gives the job time to connect, then
// looks at the dialog.
DWORD WINAPI WatchDialog(void* param) {
  auto& watch = *static_cast<DialogWatch*>(param);
  for (int i = 0; i < 600 && watch.dialog == nullptr; ++i) {
    EnumThreadWindows(watch.caller_thread, OnCallerWindow, reinterpret_cast<LPARAM>(&watch));
    if (watch.dialog == nullptr) Sleep(50);
  }
  if (!Check(watch.dialog != nullptr, "the dialog is shown")) return 0;
  Sleep(1500);
  CheckDialogLayout(watch);
  return 0;
}

struct HandleCloser {
  void operator()(HANDLE handle) const { CloseHandle(handle); }
};

}  // namespace

void CheckCalls(const std::wstring& work_dir) {
  _Tolvex* object = Create();
  if (!Check(object != nullptr, "create TolvexPro.Tolvex with _Tolvex")) return;

  const std::wstring empty_file = work_dir + L"\\empty.txt";
  const std::wstring japanese_file = work_dir + L"\\\u9032\u6357.txt";
  WriteFile(empty_file, "");

  struct Case {
    const char* what;
    bool send;
    const wchar_t* url;
    const wchar_t* key;
    const wchar_t* code;
    std::wstring file;  // empty: an Empty Variant
    short expected;
  };
  const Case cases[] = {
      {"empty URL", false, L"", L"key", L"C1", L"C:\\x.txt", 1},
      {"URL of spaces", true, L"   ", L"key", L"C1", L"C:\\x.txt", 1},
      {"company code of spaces", false, L"h", L"key", L"  ", L"C:\\x.txt", 2},
      {"empty key", true, L"h", L"", L"C1", L"C:\\x.txt", 3},
      {"empty file Variant", false, L"h", L"key", L"C1", L"", 4},
      {"missing send file", true, L"h", L"key", L"C1", work_dir + L"\\none.txt", 5},
      {"send file that is a directory", true, L"h", L"key", L"C1", work_dir, 5},
      {"missing Japanese-named send file", true, L"h", L"key", L"C1", japanese_file, 5},
      {"empty send file", true, L"h", L"key", L"C1", empty_file, 6},
  };
  for (const Case& c : cases) {
    VARIANT file;
    VariantInit(&file);
    if (!c.file.empty()) {
      V_VT(&file) = VT_BSTR;
      V_BSTR(&file) = SysAllocString(c.file.c_str());
    }
    HRESULT hr = E_FAIL;
    const short got = EarlyBound(object, c.send, c.url, c.key, c.code, &file, &hr);
    VariantClear(&file);
    Check(hr == S_OK && got == c.expected, std::string("vtable: ") + c.what + " -> " +
                                               std::to_string(c.expected) + " (got " +
                                               std::to_string(got) + ")");
  }
  Check(ErrorMsg(object) ==
            L"\u30ED\u30FC\u30AB\u30EB\u9001\u4FE1\u30D5\u30A1\u30A3\u30EB"
            L"\u30EC\u30F3\u30B0\u30B9\u30A8\u30E9\u30FC",
        "vtable: ErrorMsg holds the text of code 6");

  {
    Bstr mine(L"set by the client");
    object->put_ErrorMsg(mine.get());
    Check(ErrorMsg(object) == L"set by the client", "vtable: ErrorMsg put and get");
  }

  IDispatch* dispatch = nullptr;
  object->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch));
  if (Check(dispatch != nullptr, "IDispatch from _Tolvex")) {
    HRESULT hr = E_FAIL;
    short got = LateBound(dispatch, kRecvSO, L"", L"k", L"C1", L"C:\\x.txt", &hr);
    Check(hr == S_OK && got == 1, "Invoke BYREF BSTR: RecvSO empty URL -> 1");
    Check(ErrorMsg(object) == kBadUrl, "Invoke: ErrorMsg text of code 1");
    got = LateBound(dispatch, kSendProgress, L"h", L"k", L"C1", L"   ", &hr);
    Check(hr == S_OK && got == 4, "Invoke BYREF BSTR: SendProgress blank file -> 4");
    Check(ErrorMsg(object) == kBadFile, "Invoke: ErrorMsg text of code 4");
    got = LateBound(dispatch, kSendProgress, L"h", L"k", L"C1", empty_file, &hr);
    Check(hr == S_OK && got == 6, "Invoke BYREF BSTR: SendProgress empty file -> 6");

    const wchar_t* names[] = {L"recvso", L"ERRORMSG", L"SendProgress"};
    const DISPID ids[] = {kRecvSO, kErrorMsg, kSendProgress};
    for (int i = 0; i < 3; ++i) {
      DISPID id = 0;
      LPOLESTR name = const_cast<LPOLESTR>(names[i]);
      hr = dispatch->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id);
      Check(hr == S_OK && id == ids[i], "GetIDsOfNames " + Narrow(names[i]) + " -> " + Hex(ids[i]));
    }
    DISPID id = 0;
    LPOLESTR unknown = const_cast<LPOLESTR>(L"Recv");
    Check(dispatch->GetIDsOfNames(IID_NULL, &unknown, 1, LOCALE_USER_DEFAULT, &id) ==
              DISP_E_UNKNOWNNAME,
          "GetIDsOfNames rejects an unknown name");

    // A property put with the value Null leaves the empty string.
    VARIANT value;
    VariantInit(&value);
    V_VT(&value) = VT_NULL;
    DISPID put = DISPID_PROPERTYPUT;
    DISPPARAMS params{&value, &put, 1, 1};
    hr = dispatch->Invoke(kErrorMsg, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &params,
                          nullptr, nullptr, nullptr);
    Check(hr == S_OK && ErrorMsg(object).empty(), "Invoke: ErrorMsg = Null gives \"\"");
    dispatch->Release();
  }
  object->Release();
}

void CheckLifetimes() {
  bool created = true;
  bool counted = true;
  for (int i = 0; i < 500; ++i) {
    _Tolvex* object = Create();
    if (object == nullptr) {
      created = false;
      break;
    }
    const ULONG two = object->AddRef();
    const ULONG one = object->Release();
    const ULONG zero = object->Release();
    counted = counted && two == 2 && one == 1 && zero == 0;
  }
  Check(created, "500 objects created");
  Check(counted, "reference counts 2, 1, 0 on every object");

  std::vector<_Tolvex*> many;
  for (int i = 0; i < 50; ++i) many.push_back(Create());
  bool all = true;
  for (_Tolvex* object : many) all = all && object != nullptr;
  Check(all, "50 objects alive at once");
  // They share one job state: a failed call on one is seen by none of the
  // others' ErrorMsg, which belongs to each object.
  if (all) {
    VARIANT file;
    VariantInit(&file);
    HRESULT hr = E_FAIL;
    EarlyBound(many[0], false, L"", L"k", L"c", &file, &hr);
    Check(!ErrorMsg(many[0]).empty() && ErrorMsg(many[1]).empty(),
          "ErrorMsg belongs to each object");
  }
  for (_Tolvex* object : many) {
    if (object) object->Release();
  }
}

void CheckUnloading(const std::wstring& dll, const std::wstring& url, const std::wstring& file) {
  const HMODULE module = LoadLibraryW(dll.c_str());
  if (!Check(module != nullptr, "LoadLibrary " + Narrow(dll))) return;
  using CanUnload = HRESULT(STDAPICALLTYPE*)();
  using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
  auto can_unload = reinterpret_cast<CanUnload>(
      reinterpret_cast<void*>(GetProcAddress(module, "DllCanUnloadNow")));
  auto get_class = reinterpret_cast<GetClassObject>(
      reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
  const bool exported =
      Check(can_unload && get_class && GetProcAddress(module, "DllRegisterServer") &&
                GetProcAddress(module, "DllUnregisterServer"),
            "the four entry points are exported undecorated");
  if (exported) {
    Check(can_unload() == S_OK, "DllCanUnloadNow S_OK with nothing alive");
    IClassFactory* factory = nullptr;
    get_class(CLSID_Tolvex, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    if (Check(factory != nullptr, "class factory")) {
      Check(can_unload() == S_FALSE, "DllCanUnloadNow S_FALSE while a factory is held");
      IUnknown* object = nullptr;
      factory->CreateInstance(nullptr, IID__Tolvex, reinterpret_cast<void**>(&object));
      factory->Release();
      Check(object != nullptr && can_unload() == S_FALSE,
            "DllCanUnloadNow S_FALSE while an object lives");
      if (object) object->Release();
      Check(can_unload() == S_OK, "DllCanUnloadNow S_OK after the last release");

      if (!url.empty()) {
        // A transfer leaves nothing behind that keeps the DLL in use: every
        // WinINet request has had its last callback.
        _Tolvex* tolvex = nullptr;
        get_class(CLSID_Tolvex, IID_IClassFactory, reinterpret_cast<void**>(&factory));
        factory->CreateInstance(nullptr, IID__Tolvex, reinterpret_cast<void**>(&tolvex));
        factory->Release();
        if (Check(tolvex != nullptr, "object for a transfer")) {
          VARIANT target;
          VariantInit(&target);
          V_VT(&target) = VT_BSTR;
          V_BSTR(&target) = SysAllocString(file.c_str());
          HRESULT hr = E_FAIL;
          const short got = EarlyBound(tolvex, false, url, L"KEY001", L"C001", &target, &hr);
          VariantClear(&target);
          Check(hr == S_OK && got == 0, "a receive through the loaded DLL returns 0");
          tolvex->Release();
          Check(can_unload() == S_OK, "DllCanUnloadNow S_OK after a transfer");
        }
      }

      get_class(CLSID_Tolvex, IID_IClassFactory, reinterpret_cast<void**>(&factory));
      factory->LockServer(TRUE);
      factory->Release();
      Check(can_unload() == S_FALSE, "DllCanUnloadNow S_FALSE while locked");
      get_class(CLSID_Tolvex, IID_IClassFactory, reinterpret_cast<void**>(&factory));
      factory->LockServer(FALSE);
      factory->Release();
      Check(can_unload() == S_OK, "DllCanUnloadNow S_OK after the unlock");

      IUnknown* refused = nullptr;
      get_class(CLSID_Tolvex, IID_IClassFactory, reinterpret_cast<void**>(&factory));
      Check(factory->CreateInstance(reinterpret_cast<IUnknown*>(factory), IID_IUnknown,
                                    reinterpret_cast<void**>(&refused)) == CLASS_E_NOAGGREGATION,
            "aggregation refused");
      factory->Release();
    }
    void* other = nullptr;
    Check(get_class(IID_IUnknown, IID_IClassFactory, &other) == CLASS_E_CLASSNOTAVAILABLE,
          "another class is not served");
  }
  FreeLibrary(module);
}

namespace {

// The stand-in's record of its container (HostingRecord bits in
// platform/win32/archiver/archiver_object.h).
enum : DWORD {
  kHostCreated = 1,
  kHostInitialised = 2,
  kHostSited = 4,
  kHostUserMode = 8,
  kHostClosed = 16,
  kHostUnsited = 32,
  kHostReleasedSited = 64,
  kHostRefused = 128,
  kHostPacked = 256,
  kHostUnpacked = 512,
};
constexpr DWORD kHostedProperly =
    kHostCreated | kHostInitialised | kHostSited | kHostUserMode | kHostClosed | kHostUnsited;

using CanUnload = HRESULT(STDAPICALLTYPE*)();
using Hosting = DWORD(STDAPICALLTYPE*)();

template <class Function>
Function Export(const wchar_t* dll, const char* name) {
  const HMODULE module = GetModuleHandleW(dll);
  if (module == nullptr) return nullptr;
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

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

BOOL CALLBACK FindDialog(HWND window, LPARAM found) {
  wchar_t title[16] = {};
  GetWindowTextW(window, title, 16);
  if (IsWindowVisible(window) && std::wstring(title) == L"Tolvex") {
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
  }
  return TRUE;
}

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
      VARIANT file;
      VariantInit(&file);
      V_VT(&file) = VT_BSTR;
      V_BSTR(&file) = SysAllocString(scene.again_file.c_str());
      HRESULT hr = E_FAIL;
      const short got = EarlyBound(second, false, *scene.again_url, L"KEY001", L"C001", &file, &hr);
      VariantClear(&file);
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

class ThreadTimer {
 public:
  explicit ThreadTimer(UINT period, TIMERPROC proc = ClientTimer)
      : id_(SetTimer(nullptr, 0, period, proc)) {}
  ThreadTimer(const ThreadTimer&) = delete;
  ThreadTimer& operator=(const ThreadTimer&) = delete;
  ~ThreadTimer() { KillTimer(nullptr, id_); }

 private:
  UINT_PTR id_;
};

// Points the control's ProgID at another class for as long as it lives.
class ControlProgId {
 public:
  explicit ControlProgId(const std::wstring& clsid) : old_(Read()) { Write(clsid); }
  ControlProgId(const ControlProgId&) = delete;
  ControlProgId& operator=(const ControlProgId&) = delete;
  ~ControlProgId() { Write(old_); }
  static std::wstring ClassOf(const wchar_t* progid) {
    CLSID clsid{};
    wchar_t text[40] = {};
    if (SUCCEEDED(CLSIDFromProgID(progid, &clsid))) StringFromGUID2(clsid, text, 40);
    return text;
  }

 private:
  static std::wstring Read() { return ClassOf(L"MarloxO.Marlox"); }
  static void Write(const std::wstring& clsid) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, L"MarloxO.Marlox\\CLSID", 0, nullptr, 0, KEY_SET_VALUE,
                        nullptr, &key, nullptr) != ERROR_SUCCESS) {
      return;
    }
    RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(clsid.c_str()),
                   static_cast<DWORD>((clsid.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
  }
  std::wstring old_;
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
      ThreadTimer timer(50);
      if (c.action == Action::QuitBefore) PostQuitMessage(quit_code);
      VARIANT file;
      VariantInit(&file);
      V_VT(&file) = VT_BSTR;
      V_BSTR(&file) = SysAllocString((c.send ? send_file : recv_file).c_str());
      if (dispatch != nullptr) {
        got = LateBound(dispatch, c.send ? kSendProgress : kRecvSO, c.url, L"KEY001", L"C001",
                        c.send ? send_file : recv_file, &hr);
      } else {
        got = EarlyBound(object, c.send, c.url, L"KEY001", L"C001", &file, &hr);
      }
      VariantClear(&file);
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
  VARIANT target;
  VariantInit(&target);
  V_VT(&target) = VT_BSTR;
  V_BSTR(&target) = SysAllocString(file.c_str());
  HRESULT hr = E_FAIL;
  short got = -1;
  {
    ThreadTimer timer(50, PointerTimer);
    got = EarlyBound(object, false, url, L"KEY001", L"C001", &target, &hr);
  }
  g_pointer = nullptr;
  VariantClear(&target);
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

void CheckDialog(const std::wstring& url, const std::wstring& key, const std::wstring& code,
                 const std::wstring& file, int dpi) {
  _Tolvex* object = Create();
  if (!Check(object != nullptr, "create TolvexPro.Tolvex with _Tolvex")) return;
  DialogWatch watch;
  watch.caller_thread = GetCurrentThreadId();
  watch.dpi = dpi;
  watch.receive_caption = L"\u53D7\u4FE1(" + url + L")";
  const std::unique_ptr<void, HandleCloser> watcher(
      CreateThread(nullptr, 0, WatchDialog, &watch, 0, nullptr));
  VARIANT target;
  VariantInit(&target);
  V_VT(&target) = VT_BSTR;
  V_BSTR(&target) = SysAllocString(file.c_str());
  HRESULT hr = E_FAIL;
  const short got = EarlyBound(object, false, url, key, code, &target, &hr);
  VariantClear(&target);
  Check(hr == S_OK && got == 0 && ErrorMsg(object).empty(),
        "the receive with the dialog watched returns 0 (got " + std::to_string(got) + ")");
  object->Release();
  if (watcher) WaitForSingleObject(watcher.get(), INFINITE);
  Check(watcher && watch.looked, "the dialog was looked at during the receive");
}

namespace {

const wchar_t kTraceKey[] = L"Software\\TolvexPro\\Tolvex";

std::string ReadAll(const std::wstring& path) {
  std::ifstream in(std::filesystem::path(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

short Receive(const std::wstring& url, const std::wstring& key, const std::wstring& file) {
  _Tolvex* object = Create();
  if (object == nullptr) return -1;
  VARIANT target;
  VariantInit(&target);
  V_VT(&target) = VT_BSTR;
  V_BSTR(&target) = SysAllocString(file.c_str());
  HRESULT hr = E_FAIL;
  const short got = EarlyBound(object, false, url, key, L"C001", &target, &hr);
  VariantClear(&target);
  object->Release();
  return hr == S_OK ? got : -1;
}

// The value in HKCU, or with `machine` in HKLM's 64-bit view, where an
// administrator sets it for every user and both DLLs read it; nullptr
// deletes it.
void SetTraceFile(const std::wstring* path, DWORD type = REG_SZ, bool machine = false) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(machine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER, kTraceKey, 0, nullptr, 0,
                      KEY_SET_VALUE | (machine ? KEY_WOW64_64KEY : 0), nullptr, &key,
                      nullptr) != ERROR_SUCCESS) {
    Check(false, std::string("open ") + (machine ? "HKLM" : "HKCU") + " for the trace setting");
    return;
  }
  if (path == nullptr) {
    RegDeleteValueW(key, L"TraceFile");
  } else {
    RegSetValueExW(key, L"TraceFile", 0, type, reinterpret_cast<const BYTE*>(path->c_str()),
                   static_cast<DWORD>((path->size() + 1) * sizeof(wchar_t)));
  }
  RegCloseKey(key);
}

std::string FirstLine(const std::string& text) { return text.substr(0, text.find("\r\n")); }

std::uintmax_t FileSize(const std::wstring& path) {
  std::error_code ignored;
  const std::uintmax_t size = std::filesystem::file_size(std::filesystem::path(path), ignored);
  return size == static_cast<std::uintmax_t>(-1) ? 0 : size;
}

}  // namespace

void CheckTraceFile(const std::wstring& dead_url, const std::wstring& live_url,
                    const std::wstring& work_dir) {
  const std::wstring key = L"TraceKey-0042";
  const std::wstring trace = work_dir + L"\\trace.log";
  DeleteFileW(trace.c_str());

  SetTraceFile(nullptr);
  Check(Receive(dead_url, key, work_dir + L"\\traced.txt") == 9, "untraced dead port -> 9");
  Check(GetFileAttributesW(trace.c_str()) == INVALID_FILE_ATTRIBUTES,
        "without TraceFile no file is written");

  SetTraceFile(&trace);
  Check(Receive(dead_url, key, work_dir + L"\\traced.txt") == 9, "traced dead port -> 9");
  const std::string text = ReadAll(trace);
  std::printf("---- %s\n%s----\n", Narrow(trace).c_str(), text.c_str());
  Check(text.find("WinINet error 12029 ERROR_INTERNET_CANNOT_CONNECT") != std::string::npos,
        "the trace names WinINet error 12029");
  Check(text.find("* result 9 ") != std::string::npos, "the trace ends with the result");
  Check(text.find("TraceKey-0042") == std::string::npos, "the key is not in the trace");
  Check(text.size() > 24 && text[4] == '-' && text[10] == ' ' && text[19] == '.',
        "lines start with a timestamp");

  // The first line names the DLL loaded, its version and bitness, and the
  // program that loaded it.
  wchar_t client[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, client, MAX_PATH);
  const std::string first = FirstLine(text);
  const char* const bits = sizeof(void*) == 8 ? ", 64-bit, " : ", 32-bit";
  for (const std::string& part :
       {std::string("* Tolvex.dll " TOLVEX_VERSION_TEXT " (file version "), std::string(bits),
        std::string("Tolvex.dll, in "), Narrow(client)}) {
    Check(first.find(part) != std::string::npos, "the trace's first line names " + part);
  }
  Check(text.find("* RecvSO URL ", first.size()) != std::string::npos,
        "the call's own line follows the first");

  // Where the user has no value, the machine's (HKLM, 64-bit view) names
  // the file; a user's value wins over it, and an empty one switches the
  // trace off for that user.
  const std::wstring machine_trace = work_dir + L"\\trace-machine.log";
  const std::wstring user_trace = work_dir + L"\\trace-user.log";
  DeleteFileW(machine_trace.c_str());
  DeleteFileW(user_trace.c_str());
  const std::wstring empty;
  const struct {
    const char* what;
    const std::wstring* user;  // nullptr: no user value
    bool machine_grows;
    bool user_grows;
  } precedence[] = {
      {"HKLM alone names the trace", nullptr, true, false},
      {"HKCU wins over HKLM", &user_trace, false, true},
      {"an empty HKCU value switches the trace off", &empty, false, false},
  };
  SetTraceFile(&machine_trace, REG_EXPAND_SZ, true);
  for (const auto& row : precedence) {
    SetTraceFile(row.user);
    const std::uintmax_t machine_before = FileSize(machine_trace);
    const std::uintmax_t user_before = FileSize(user_trace);
    Check(Receive(dead_url, key, work_dir + L"\\traced.txt") == 9,
          std::string(row.what) + ": dead port -> 9");
    Check((FileSize(machine_trace) > machine_before) == row.machine_grows &&
              (FileSize(user_trace) > user_before) == row.user_grows,
          row.what);
  }
  Check(ReadAll(machine_trace).find("WinINet error 12029") != std::string::npos,
        "the machine-wide trace holds the call's steps");
  SetTraceFile(nullptr, REG_SZ, true);

  // A file that has reached 10 MiB when a call starts is renamed to
  // FILE.1 and begun again; one a byte short is appended to.
  const std::wstring rolled = trace + L".1";
  const struct {
    std::uintmax_t size;
    bool rolls;
  } sizes[] = {{(10u << 20) - 1, false}, {10u << 20, true}, {(10u << 20) + 4096, true}};
  SetTraceFile(&trace);
  for (const auto& row : sizes) {
    DeleteFileW(rolled.c_str());
    {
      std::ofstream old(std::filesystem::path(trace), std::ios::binary | std::ios::trunc);
      const std::string filler(row.size, 'x');
      old << filler;
    }
    Check(Receive(dead_url, key, work_dir + L"\\traced.txt") == 9, "a full trace: dead port -> 9");
    const std::string what = "a trace file of " + std::to_string(row.size) + " bytes ";
    if (row.rolls) {
      Check(FileSize(rolled) == row.size && FileSize(trace) < 65536 &&
                FirstLine(ReadAll(trace)).find("* Tolvex.dll ") != std::string::npos,
            what + "rolls over to .1 and starts again with the call's first line");
    } else {
      Check(GetFileAttributesW(rolled.c_str()) == INVALID_FILE_ATTRIBUTES &&
                FileSize(trace) > row.size,
            what + "is appended to");
    }
  }
  DeleteFileW(rolled.c_str());
  DeleteFileW(trace.c_str());

  // A variable stays literal in a REG_SZ (reg add without /t REG_EXPAND_SZ,
  // typed into PowerShell); the DLL expands it in either type.
  SetEnvironmentVariableW(L"TOLVEX_TRACE_DIR", work_dir.c_str());
  const struct {
    DWORD type;
    const wchar_t* name;
  } typed[] = {{REG_SZ, L"REG_SZ"}, {REG_EXPAND_SZ, L"REG_EXPAND_SZ"}};
  for (const auto& value : typed) {
    const std::wstring file = std::wstring(L"trace-") + value.name + L".log";
    const std::wstring stored = L"%TOLVEX_TRACE_DIR%\\" + file;
    DeleteFileW((work_dir + L"\\" + file).c_str());
    SetTraceFile(&stored, value.type);
    Check(Receive(dead_url, key, work_dir + L"\\traced.txt") == 9,
          "traced through a variable -> 9");
    Check(ReadAll(work_dir + L"\\" + file).find("WinINet error 12029") != std::string::npos,
          "%TOLVEX_TRACE_DIR% in a " + Narrow(value.name) + " value names the trace file");
  }

  const std::wstring unopenable = work_dir + L"\\no such dir\\trace.log";
  SetTraceFile(&unopenable);
  Check(Receive(live_url, L"KEY001", work_dir + L"\\traced.txt") == 0,
        "an unopenable trace file changes nothing: receive -> 0");
  SetTraceFile(nullptr);
}

void CheckArchiver(const std::wstring& url, const std::wstring& work_dir,
                   const std::wstring& expected_line, bool hosted) {
  const std::wstring trace = work_dir + L"\\archiver-trace.log";
  const std::wstring send_file = work_dir + L"\\archiver-progress.txt";
  WriteFile(send_file, "progress through the chosen archiver\r\n");
  struct Case {
    const char* what;
    bool send;
    const wchar_t* file;
  };
  const Case cases[] = {{"receive", false, L"\\archiver-orders.txt"},
                        {"send", true, L"\\archiver-progress.txt"}};
  std::optional<ControlProgId> contained;
  if (hosted) contained.emplace(ControlProgId::ClassOf(L"TolvexArchiver.NeedsContainer"));
  for (const Case& c : cases) {
    const std::string what = c.what;
    DeleteFileW(trace.c_str());
    SetTraceFile(&trace);
    _Tolvex* object = Create();
    if (!Check(object != nullptr, what + ": object created")) continue;
    VARIANT file;
    VariantInit(&file);
    V_VT(&file) = VT_BSTR;
    V_BSTR(&file) = SysAllocString((work_dir + c.file).c_str());
    HRESULT hr = E_FAIL;
    const short got = EarlyBound(object, c.send, url, L"KEY001", L"C001", &file, &hr);
    VariantClear(&file);
    const std::wstring message = ErrorMsg(object);
    object->Release();
    SetTraceFile(nullptr);
    Check(hr == S_OK && got == 0 && message.empty(),
          what + ": returns 0 with an empty ErrorMsg (got " + std::to_string(got) + ", '" +
              Narrow(message) + "')");
    const std::string text = ReadAll(trace);
    const std::size_t line = text.find("* archiver: ");
    const std::string said = line == std::string::npos
                                 ? "no archiver line"
                                 : text.substr(line, text.find('\n', line) - line);
    Check(said.find(Narrow(expected_line)) != std::string::npos,
          what + ": the trace names the archiver: " + said);
    if (hosted) {
      // The stand-in that records its container, under the control's ProgID.
      const auto hosting = Export<Hosting>(L"TolvexArchiver.dll", "TolvexArchiverHosting");
      const DWORD record = hosting ? hosting() : 0;
      Check((record & (c.send ? kHostPacked : kHostUnpacked)) != 0,
            what + ": the stand-in's record shows it " + (c.send ? "packed" : "unpacked") + " (" +
                Hex(static_cast<long>(record)) + ")");
    } else if (expected_line.find(L"built-in") != std::wstring::npos) {
      Check(GetModuleHandleW(L"TolvexArchiver.dll") == nullptr,
            what + ": no stand-in loaded in the process");
    }
  }
}

// ---- Many apartments at once ----

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
    VARIANT file;
    VariantInit(&file);
    V_VT(&file) = VT_BSTR;
    V_BSTR(&file) = SysAllocString(orphan.file.c_str());
    HRESULT hr = E_FAIL;
    orphan.result = EarlyBound(orphan.object, false, orphan.url, L"KEY-C1", L"C1", &file, &hr);
    VariantClear(&file);
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

namespace {

struct Memory {
  double resident_mib = 0, peak_resident_mib = 0, peak_virtual_mib = 0;
};

Memory MemoryNow() {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  Memory memory;
  if (GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) {
    constexpr double kMiB = 1024.0 * 1024.0;
    memory.resident_mib = static_cast<double>(counters.WorkingSetSize) / kMiB;
    memory.peak_resident_mib = static_cast<double>(counters.PeakWorkingSetSize) / kMiB;
    memory.peak_virtual_mib = static_cast<double>(counters.PagefileUsage) / kMiB;
  }
  return memory;
}

}  // namespace

void CheckLargeTransfers(const std::wstring& url, const std::wstring& work_dir) {
  constexpr double kMostGrowthMiB = 64;
  _Tolvex* object = Create();
  if (!Check(object != nullptr, "large: the object is created")) return;
  for (const bool send : {false, true}) {
    const std::wstring file = work_dir + (send ? L"\\progress.txt" : L"\\large.txt");
    VARIANT target;
    VariantInit(&target);
    V_VT(&target) = VT_BSTR;
    V_BSTR(&target) = SysAllocString(file.c_str());
    const Memory before = MemoryNow();
    const DWORD start = GetTickCount();
    HRESULT hr = E_FAIL;
    const short got = EarlyBound(object, send, url, L"KEY001", L"C001", &target, &hr);
    const double seconds = static_cast<double>(GetTickCount() - start) / 1000.0;
    const Memory after = MemoryNow();
    VariantClear(&target);
    const char* what = send ? "large send" : "large receive";
    Check(hr == S_OK && got == 0 && ErrorMsg(object).empty(),
          std::string(what) + " -> 0 (got " + std::to_string(got) + ")");
    // The peak since the process began: when it lies above what the call
    // started from, the call made it.
    const double growth = after.peak_resident_mib - before.resident_mib;
    char figures[200];
    std::snprintf(figures, sizeof figures,
                  "%s in %.1f s: resident %.1f MiB before, peak %.1f MiB after (+%.1f MiB), "
                  "committed %.1f MiB after",
                  what, seconds, before.resident_mib, after.peak_resident_mib, growth,
                  after.peak_virtual_mib);
    Check(growth <= kMostGrowthMiB, figures);
  }
  object->Release();
}

namespace {

const wchar_t kUnpackFailedText[] =
    L"\u30D5\u30A1\u30A4\u30EB\u89E3\u51CD\u5B9F\u884C\u30A8\u30E9\u30FC";

// The extended-length form, so the checks can make and read what the
// DLL is asked to handle, however deep.
std::wstring Long(const std::wstring& path) {
  if (path.rfind(L"\\\\?\\", 0) == 0) return path;
  if (path.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + path.substr(2);
  return L"\\\\?\\" + path;
}

void MakeDirectories(const std::wstring& dir) {
  for (std::size_t i = 3; i <= dir.size(); ++i) {
    if (i == dir.size() || dir[i] == L'\\')
      CreateDirectoryW(Long(dir.substr(0, i)).c_str(), nullptr);
  }
}

void WriteLong(const std::wstring& path, const std::string& bytes) {
  const HANDLE file = CreateFileW(Long(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
}

// The bytes of a file; "<missing>" when it cannot be read.
std::string ReadLong(const std::wstring& path) {
  const HANDLE file = CreateFileW(Long(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "<missing>";
  std::string bytes;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) bytes.append(buffer, got);
  CloseHandle(file);
  return bytes;
}

// The names in a directory, hidden ones included.
std::vector<std::wstring> Listing(const std::wstring& dir) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW entry{};
  const HANDLE find = FindFirstFileW((Long(dir) + L"\\*").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    const std::wstring name = entry.cFileName;
    if (name != L"." && name != L"..") names.push_back(name);
  } while (FindNextFileW(find, &entry));
  FindClose(find);
  return names;
}

std::string Names(const std::vector<std::wstring>& names) {
  std::string text;
  for (const auto& name : names) text += (text.empty() ? "" : " ") + Narrow(name);
  return text;
}

short Send(const std::wstring& url, const std::wstring& file) {
  _Tolvex* object = Create();
  if (object == nullptr) return -1;
  VARIANT target;
  VariantInit(&target);
  V_VT(&target) = VT_BSTR;
  V_BSTR(&target) = SysAllocString(file.c_str());
  HRESULT hr = E_FAIL;
  const short got = EarlyBound(object, true, url, L"KEY001", L"C001", &target, &hr);
  VariantClear(&target);
  object->Release();
  return hr == S_OK ? got : -1;
}

// A receive with its ErrorMsg and the trace it left.
struct Traced {
  short result = -1;
  std::wstring error_msg;
  std::string trace;
};

Traced TracedReceive(const std::wstring& url, const std::wstring& file, const std::wstring& trace) {
  DeleteFileW(trace.c_str());
  Traced out;
  _Tolvex* object = Create();
  if (object == nullptr) return out;
  VARIANT target;
  VariantInit(&target);
  V_VT(&target) = VT_BSTR;
  V_BSTR(&target) = SysAllocString(file.c_str());
  HRESULT hr = E_FAIL;
  const short got = EarlyBound(object, false, url, L"KEY001", L"C001", &target, &hr);
  VariantClear(&target);
  out.result = hr == S_OK ? got : -1;
  out.error_msg = ErrorMsg(object);
  object->Release();
  out.trace = ReadAll(trace);
  return out;
}

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// The caller's file held open by "another program" (a handle without
// delete sharing) until `release_after_ms` have passed, or until the
// object goes.
class HeldFile {
 public:
  HeldFile(const std::wstring& path, DWORD release_after_ms)
      : file_(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)),
        after_ms_(release_after_ms) {
    if (after_ms_ > 0) thread_ = CreateThread(nullptr, 0, Release, this, 0, nullptr);
  }
  HeldFile(const HeldFile&) = delete;
  HeldFile& operator=(const HeldFile&) = delete;
  ~HeldFile() {
    if (thread_ != nullptr) {
      WaitForSingleObject(thread_, INFINITE);
      CloseHandle(thread_);
    } else {
      CloseHandle(file_);
    }
  }
  bool held() const { return file_ != INVALID_HANDLE_VALUE; }

 private:
  static DWORD WINAPI Release(void* param) {
    auto* self = static_cast<HeldFile*>(param);
    Sleep(self->after_ms_);
    CloseHandle(self->file_);
    return 0;
  }
  HANDLE file_;
  DWORD after_ms_;
  HANDLE thread_ = nullptr;
};

int g_ticks = 0;
void CALLBACK CountTick(HWND, UINT, UINT_PTR, DWORD) { ++g_ticks; }

// "D:(A;;FA;;;BA)..." of a file, or "" when the system tells none.
std::wstring AccessControlOf(const std::wstring& path) {
  DWORD needed = 0;
  GetFileSecurityW(Long(path).c_str(), DACL_SECURITY_INFORMATION, nullptr, 0, &needed);
  if (needed == 0) return L"";
  std::vector<BYTE> descriptor(needed);
  if (!GetFileSecurityW(Long(path).c_str(), DACL_SECURITY_INFORMATION, descriptor.data(), needed,
                        &needed)) {
    return L"";
  }
  using ToText = BOOL(WINAPI*)(PSECURITY_DESCRIPTOR, DWORD, SECURITY_INFORMATION, LPWSTR*, PULONG);
  const auto to_text = reinterpret_cast<ToText>(reinterpret_cast<void*>(GetProcAddress(
      GetModuleHandleW(L"advapi32.dll"), "ConvertSecurityDescriptorToStringSecurityDescriptorW")));
  wchar_t* text = nullptr;
  if (to_text == nullptr ||
      !to_text(descriptor.data(), 1, DACL_SECURITY_INFORMATION, &text, nullptr)) {
    return L"";
  }
  std::wstring out = text;
  LocalFree(text);
  return out;
}

bool SetAccessControl(const std::wstring& path, const wchar_t* sddl) {
  using FromText = BOOL(WINAPI*)(LPCWSTR, DWORD, PSECURITY_DESCRIPTOR*, PULONG);
  const auto from_text = reinterpret_cast<FromText>(reinterpret_cast<void*>(GetProcAddress(
      GetModuleHandleW(L"advapi32.dll"), "ConvertStringSecurityDescriptorToSecurityDescriptorW")));
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (from_text == nullptr || !from_text(sddl, 1, &descriptor, nullptr)) return false;
  const BOOL ok = SetFileSecurityW(Long(path).c_str(), DACL_SECURITY_INFORMATION, descriptor);
  LocalFree(descriptor);
  return ok != FALSE;
}

}  // namespace

void CheckCallersFiles(const std::wstring& live_url, const std::wstring& dead_url,
                       const std::wstring& work_dir, const std::wstring& unc_dir) {
  const std::wstring root = work_dir + L"\\files";
  MakeDirectories(root);
  const std::wstring trace = root + L"\\trace.log";
  SetTraceFile(&trace);
  const std::wstring reference_file = root + L"\\reference.txt";
  Check(Receive(live_url, L"KEY001", reference_file) == 0, "a plain receive -> 0");
  const std::string reference = ReadLong(reference_file);
  const std::string old_data = "old orders\r\n";

  // The caller's file open in another program: for a moment, then for the
  // whole call. The client's timer of 100 ms goes on ticking while the
  // replace waits: the calling thread never sleeps.
  {
    const std::wstring dir = root + L"\\held-briefly";
    MakeDirectories(dir);
    const std::wstring file = dir + L"\\orders.txt";
    WriteLong(file, old_data);
    Traced got;
    g_ticks = 0;
    {
      HeldFile held(file, 2000);
      Check(held.held(), "the file is held open without delete sharing");
      const ThreadTimer timer(100, CountTick);
      got = TracedReceive(live_url, file, trace);
    }
    Check(got.result == 0 && got.error_msg.empty(),
          "held for 2 s: receive -> 0 (got " + std::to_string(got.result) + ")");
    Check(ReadLong(file) == reference, "held for 2 s: the file holds the new data");
    Check(Has(got.trace, "trying again in"), "held for 2 s: the trace shows the replace retried");
    Check(g_ticks >= 10, "held for 2 s: the client's 100 ms timer ticked " +
                             std::to_string(g_ticks) + " times during the call");
    Check(Names(Listing(dir)) == "orders.txt",
          "held for 2 s: nothing else in the directory (" + Names(Listing(dir)) + ")");
  }
  {
    const std::wstring dir = root + L"\\held";
    MakeDirectories(dir);
    const std::wstring file = dir + L"\\orders.txt";
    WriteLong(file, old_data);
    Traced got;
    {
      HeldFile held(file, 0);
      got = TracedReceive(live_url, file, trace);
    }
    const auto names = Listing(dir);
    std::wstring kept;
    for (const auto& name : names) {
      if (name.rfind(L"orders.txt.received-", 0) == 0) kept = name;
    }
    std::printf("---- cause when held: %s\n", got.trace.c_str());
    Check(got.result == 12 && got.error_msg == kUnpackFailedText,
          "held for the whole call: receive -> 12 (got " + std::to_string(got.result) + ")");
    Check(ReadLong(file) == old_data, "held: the old file byte for byte");
    Check(names.size() == 2 && kept.size() == std::wstring(L"orders.txt.received-").size() + 15,
          "held: the file and one kept file orders.txt.received-YYYYMMDD-HHMMSS (" + Names(names) +
              ")");
    Check(!kept.empty() && ReadLong(dir + L"\\" + kept) == reference,
          "held: the kept file holds the received data");
    Check(Has(got.trace, "* result 12 ") &&
              Has(got.trace, Narrow(file) +
                                 " could not be replaced: the file is open in another program; the "
                                 "received data was kept in " +
                                 Narrow(dir + L"\\" + kept)),
          "held: the cause names the file, the reason and the kept file");
    Check(Has(got.trace, "Windows error 5 ERROR_ACCESS_DENIED"),
          "held: the cause gives the Windows error behind it");
  }

  // A relative path for both calls: the current directory the client set.
  {
    const std::wstring dir = root + L"\\relative";
    MakeDirectories(dir);
    WriteLong(dir + L"\\progress.txt", "relative progress\r\n");
    wchar_t before[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, before);
    SetCurrentDirectoryW(dir.c_str());
    const short sent = Send(live_url, L"progress.txt");
    const short received = Receive(live_url, L"KEY001", L"orders.txt");
    const short received_sub = Receive(live_url, L"KEY001", L"sub\\orders.txt");
    SetCurrentDirectoryW(before);
    Check(sent == 0, "relative progress.txt: send -> 0 (got " + std::to_string(sent) + ")");
    Check(received == 0 && ReadLong(dir + L"\\orders.txt") == reference,
          "relative orders.txt: receive -> 0 into the current directory");
    Check(received_sub == 0 && ReadLong(dir + L"\\sub\\orders.txt") == reference,
          "relative sub\\orders.txt: receive -> 0, the directory made there");
  }

  // The file named by its short 8.3 form: the long-named file takes the
  // data and no file of the short name appears (Wine resolves short names
  // itself; NTFS would rename the file to the short name).
  {
    const std::wstring dir = root + L"\\short";
    MakeDirectories(dir);
    const std::wstring file = dir + L"\\long orders file.txt";
    WriteLong(file, old_data);
    wchar_t short_path[MAX_PATH] = {};
    const DWORD length = GetShortPathNameW(file.c_str(), short_path, MAX_PATH);
    Check(length > 0 && length < MAX_PATH && file != short_path,
          "the long-named file has a short name (" + Narrow(short_path) + ")");
    const short received = Receive(live_url, L"KEY001", short_path);
    Check(
        received == 0 && ReadLong(file) == reference,
        "short name: receive -> 0 into the long-named file (got " + std::to_string(received) + ")");
    Check(Names(Listing(dir)) == "long orders file.txt",
          "short name: no file of the short name (" + Names(Listing(dir)) + ")");
  }

  // Deep: a 250-character directory and a 300-character path.
  for (const std::size_t length : {std::size_t{250}, std::size_t{300}}) {
    std::wstring dir = root + L"\\deep";
    const std::size_t dir_length = length == 250 ? 250 : 300 - std::wstring(L"\\orders.txt").size();
    while (dir.size() < dir_length) {
      dir += L"\\" + std::wstring(std::min<std::size_t>(60, dir_length - dir.size() - 1), L'd');
    }
    MakeDirectories(dir);
    const std::wstring file = dir + L"\\orders.txt";
    const std::wstring progress = dir + L"\\progress.txt";
    WriteLong(progress, "deep progress\r\n");
    const std::string what = std::to_string(dir.size()) + "-character directory, " +
                             std::to_string(file.size()) + "-character path";
    const short received = Receive(live_url, L"KEY001", file);
    Check(received == 0 && ReadLong(file) == reference,
          what + ": receive -> 0 with the data (got " + std::to_string(received) + ")");
    const short sent = Send(live_url, progress);
    Check(sent == 0, what + ": send -> 0 (got " + std::to_string(sent) + ")");
    Check(Listing(dir).size() == 2, what + ": nothing else left (" + Names(Listing(dir)) + ")");
  }
  {
    // A name longer than any file system takes.
    const std::wstring file = root + L"\\" + std::wstring(300, L'n') + L"\\orders.txt";
    const Traced got = TracedReceive(live_url, file, trace);
    Check(got.result == 12 && Has(got.trace, "path too long") &&
              Has(got.trace, "Windows error 206 ERROR_FILENAME_EXCED_RANGE"),
          "a 300-character name: 12, the cause says path too long (206)");
  }

  // A share and forward slashes, with missing directories.
  if (unc_dir != L"-") {
    const std::wstring file = unc_dir + L"\\unc\\new\\orders.txt";
    const short received = Receive(live_url, L"KEY001", file);
    Check(received == 0 && ReadLong(file) == reference,
          "UNC " + Narrow(file) + ": receive -> 0 (got " + std::to_string(received) + ")");
    WriteLong(unc_dir + L"\\unc\\progress.txt", "progress on a share\r\n");
    const short sent = Send(live_url, unc_dir + L"\\unc\\progress.txt");
    Check(sent == 0, "UNC send -> 0 (got " + std::to_string(sent) + ")");
  }
  {
    std::wstring file = root + L"\\slashes\\new\\deeper\\orders.txt";
    for (auto& c : file) {
      if (c == L'\\') c = L'/';
    }
    const short received = Receive(live_url, L"KEY001", file);
    Check(
        received == 0 && ReadLong(root + L"\\slashes\\new\\deeper\\orders.txt") == reference,
        Narrow(file) + ": receive -> 0 with the chain made (got " + std::to_string(received) + ")");
  }

  // What cannot take the data is refused before the post: against a dead
  // port a post would give 9.
  {
    const std::wstring dir = root + L"\\refused";
    MakeDirectories(dir + L"\\a directory");
    WriteLong(dir + L"\\read-only.txt", old_data);
    SetFileAttributesW(Long(dir + L"\\read-only.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    const struct {
      const char* what;
      bool send;
      std::wstring file;
      short expected;
      const char* cause;
    } cases[] = {
        {"receive into COM1", false, dir + L"\\COM1", 12, "not a disk file"},
        {"receive into NUL", false, L"NUL", 12, "not a disk file"},
        {"receive into a directory", false, dir + L"\\a directory", 12, "it is a directory"},
        {"receive into a read-only file", false, dir + L"\\read-only.txt", 12,
         "the file is read-only"},
        {"send of NUL", true, dir + L"\\NUL", 5, "not a disk file"},
        {"send of COM1", true, L"COM1", 5, "not a disk file"},
    };
    for (const auto& c : cases) {
      DeleteFileW(trace.c_str());
      const DWORD start = GetTickCount();
      const short got = c.send ? Send(dead_url, c.file) : Receive(dead_url, L"KEY001", c.file);
      const DWORD took = GetTickCount() - start;
      const std::string text = ReadAll(trace);
      Check(got == c.expected && Has(text, c.cause) && took < 5000,
            std::string(c.what) + ": " + std::to_string(c.expected) + " at once, '" + c.cause +
                "' (got " + std::to_string(got) + " in " + std::to_string(took) + " ms)");
    }
    Check(ReadLong(dir + L"\\read-only.txt") == old_data, "the read-only file is unchanged");
    Check(Names(Listing(dir)) == "a directory read-only.txt",
          "nothing made beside the refused files (" + Names(Listing(dir)) + ")");
  }

  // The new file keeps what the old one carried.
  {
    const std::wstring dir = root + L"\\attributes";
    MakeDirectories(dir);
    const std::wstring file = dir + L"\\orders.txt";
    WriteLong(file, old_data);
    SetFileAttributesW(Long(file).c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    // A list no new file is given by itself. Wine keeps no list of a
    // file's own: it sets the Unix mode from it and shows a list made from
    // the mode, so the driver compares the mode with that of acl-probe.txt,
    // which was given the same list.
    const wchar_t* sddl = L"D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FR;;;WD)";
    WriteLong(dir + L"\\acl-probe.txt", old_data);
    const bool set =
        SetAccessControl(file, sddl) && SetAccessControl(dir + L"\\acl-probe.txt", sddl);
    const std::wstring old_acl = AccessControlOf(file);
    const std::wstring fresh_acl = AccessControlOf(reference_file);
    const short received = Receive(live_url, L"KEY001", file);
    const DWORD attributes = GetFileAttributesW(Long(file).c_str());
    Check(received == 0 && ReadLong(file) == reference, "hidden system file: receive -> 0");
    Check(attributes != INVALID_FILE_ATTRIBUTES &&
              (attributes &
               (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE)) ==
                  (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE),
          "the new file is hidden and system, with the archive attribute (" +
              Hex(static_cast<long>(attributes)) + ")");
    std::printf("access control: set %d, old %s, a fresh file's %s, new %s\n", set ? 1 : 0,
                Narrow(old_acl).c_str(), Narrow(fresh_acl).c_str(),
                Narrow(AccessControlOf(file)).c_str());
    Check(set && AccessControlOf(file) == old_acl,
          "the new file has the old one's access control list");
  }
  SetTraceFile(nullptr);
}

}  // namespace wine_client
