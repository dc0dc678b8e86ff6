// Calls through the vtable and IDispatch, object lifetimes, unloading and
// the dialog as a caller sees it: CheckCalls, CheckLifetimes,
// CheckUnloading and CheckDialog.
#include "call_checks.h"
#include "call_support.h"

#include <windows.h>

#include <oleauto.h>

#include <cstdio>
#include <cwchar>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "check.h"
#include "tolvex_h.h"

namespace wine_client {
namespace {

// The texts of the argument checks, in UTF-16.
const wchar_t kBadUrl[] =
    L"\u767A\u6CE8\u5074\u30B5\u30FC\u30D0\u30A2\u30C9\u30EC\u30B9\u30A8\u30E9\u30FC";
const wchar_t kBadFile[] =
    L"\u30ED\u30FC\u30AB\u30EB\u9001\u4FE1\u30D5\u30A1\u30A3\u30EB\u540D\u30A8\u30E9\u30FC";

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
          HRESULT hr = E_FAIL;
          const short got = EarlyBound(tolvex, false, url, L"KEY001", L"C001", file, &hr);
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
  HRESULT hr = E_FAIL;
  const short got = EarlyBound(object, false, url, key, code, file, &hr);
  Check(hr == S_OK && got == 0 && ErrorMsg(object).empty(),
        "the receive with the dialog watched returns 0 (got " + std::to_string(got) + ")");
  object->Release();
  if (watcher) WaitForSingleObject(watcher.get(), INFINITE);
  Check(watcher && watch.looked, "the dialog was looked at during the receive");
}

}  // namespace wine_client
