// What the native client's call checks share: making the object, calling
// it early and late bound, the dialog's window, a thread's timer, the
// archive control's ProgID, the trace setting, the stand-in's record.
#pragma once

#include <windows.h>

#include <oleauto.h>

#include <string>

#include "tolvex_h.h"

namespace wine_client {

constexpr DISPID kRecvSO = 0x60030001;
constexpr DISPID kSendProgress = 0x60030002;
constexpr DISPID kErrorMsg = 0x40030000;

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

// TolvexPro.Tolvex through _Tolvex; nullptr when it cannot be made.
_Tolvex* Create();
std::wstring ErrorMsg(_Tolvex* object);

// RecvSO or SendProgress (`send`) through the vtable, its HRESULT in `hr`.
short EarlyBound(_Tolvex* object, bool send, const std::wstring& url, const std::wstring& key,
                 const std::wstring& code, VARIANT* file, HRESULT* hr);
// The same with the file as a String Variant holding `path`.
short EarlyBound(_Tolvex* object, bool send, const std::wstring& url, const std::wstring& key,
                 const std::wstring& code, const std::wstring& path, HRESULT* hr);
// Invoke with every argument VT_BYREF|VT_BSTR, as an early-bound VB
// client's variables arrive through IDispatch.
short LateBound(IDispatch* object, DISPID id, const std::wstring& url, const std::wstring& key,
                const std::wstring& code, const std::wstring& file, HRESULT* hr);

void WriteFile(const std::wstring& path, const std::string& bytes);
std::string ReadAll(const std::wstring& path);

// A receive of company C001 into `file` by a new object; -1 when the call
// itself failed.
short Receive(const std::wstring& url, const std::wstring& key, const std::wstring& file);

// For EnumThreadWindows: the visible dialog titled "Tolvex", into the
// HWND that `found` points at.
BOOL CALLBACK FindDialog(HWND window, LPARAM found);

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

class ThreadTimer {
 public:
  ThreadTimer(UINT period, TIMERPROC proc) : id_(SetTimer(nullptr, 0, period, proc)) {}
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

// The value in HKCU, or with `machine` in HKLM's 64-bit view, where an
// administrator sets it for every user and both DLLs read it; nullptr
// deletes it.
void SetTraceFile(const std::wstring* path, DWORD type = REG_SZ, bool machine = false);

}  // namespace wine_client
