#include "call_support.h"

#include <windows.h>

#include <oleauto.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "check.h"
#include "tolvex_h.h"

namespace wine_client {
namespace {

const wchar_t kTraceKey[] = L"Software\\TolvexPro\\Tolvex";

}  // namespace

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

BOOL CALLBACK FindDialog(HWND window, LPARAM found) {
  wchar_t title[16] = {};
  GetWindowTextW(window, title, 16);
  if (IsWindowVisible(window) && std::wstring(title) == L"Tolvex") {
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
  }
  return TRUE;
}

std::string ReadAll(const std::wstring& path) {
  std::ifstream in(std::filesystem::path(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

short Receive(const std::wstring& url, const std::wstring& key, const std::wstring& file) {
  _Tolvex* object = Create();
  if (object == nullptr) return -1;
  HRESULT hr = E_FAIL;
  const short got = EarlyBound(object, false, url, key, L"C001", file, &hr);
  object->Release();
  return hr == S_OK ? got : -1;
}

void SetTraceFile(const std::wstring* path, DWORD type, bool machine) {
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

}  // namespace wine_client
