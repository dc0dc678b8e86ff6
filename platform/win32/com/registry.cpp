#include "com/registry.h"

#include <objbase.h>

#include "com/module_state.h"

namespace tolvex::win32 {
namespace {

class unique_hkey {
 public:
  unique_hkey() = default;
  unique_hkey(const unique_hkey&) = delete;
  unique_hkey& operator=(const unique_hkey&) = delete;
  ~unique_hkey() {
    if (key_ != nullptr) RegCloseKey(key_);
  }
  HKEY get() const { return key_; }
  HKEY* put() { return &key_; }

 private:
  HKEY key_ = nullptr;
};

}  // namespace

HRESULT SetClassesString(const std::wstring& key, const wchar_t* value_name,
                         const std::wstring& data) {
  unique_hkey handle;
  LSTATUS status = RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                                   nullptr, handle.put(), nullptr);
  if (status != ERROR_SUCCESS) return HRESULT_FROM_WIN32(status);
  const auto bytes = static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t));
  status = RegSetValueExW(handle.get(), value_name, 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(data.c_str()), bytes);
  return HRESULT_FROM_WIN32(status);
}

HRESULT DeleteClassesTree(const std::wstring& key) {
  const LSTATUS status = RegDeleteTreeW(HKEY_CLASSES_ROOT, key.c_str());
  if (status == ERROR_FILE_NOT_FOUND) return S_OK;
  if (status != ERROR_SUCCESS) return HRESULT_FROM_WIN32(status);
  const LSTATUS removed = RegDeleteKeyW(HKEY_CLASSES_ROOT, key.c_str());
  return removed == ERROR_SUCCESS || removed == ERROR_FILE_NOT_FOUND ? S_OK
                                                                     : HRESULT_FROM_WIN32(removed);
}

std::optional<std::wstring> ReadClassesString(const std::wstring& key, const wchar_t* value_name) {
  DWORD bytes = 0;
  if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), value_name, RRF_RT_REG_SZ, nullptr, nullptr,
                   &bytes) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  std::wstring text(bytes / sizeof(wchar_t), L'\0');
  if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), value_name, RRF_RT_REG_SZ, nullptr, text.data(),
                   &bytes) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  text.resize(bytes / sizeof(wchar_t));
  while (!text.empty() && text.back() == L'\0') text.pop_back();
  return text;
}

std::wstring GuidString(REFGUID guid) {
  wchar_t text[40] = {};
  StringFromGUID2(guid, text, 40);
  return text;
}

HRESULT RegisterServer(const ServerRegistration& server) {
  const std::wstring clsid = GuidString(server.clsid);
  const std::wstring class_key = L"CLSID\\" + clsid;
  const std::wstring progid = server.progid;
  const std::wstring module = ThisModulePath();
  if (module.empty()) return HRESULT_FROM_WIN32(GetLastError());

  struct Entry {
    std::wstring key;
    const wchar_t* name;
    std::wstring data;
  };
  std::wstring entries_typelib = server.typelib ? GuidString(*server.typelib) : std::wstring();
  const Entry entries[] = {
      {class_key, nullptr, server.description},
      {class_key + L"\\InprocServer32", nullptr, module},
      {class_key + L"\\InprocServer32", L"ThreadingModel", L"Apartment"},
      {class_key + L"\\ProgID", nullptr, progid},
      {class_key + L"\\VERSION", nullptr, server.version},
      {class_key + L"\\Programmable", nullptr, L""},
      {progid, nullptr, server.description},
      {progid + L"\\CLSID", nullptr, clsid},
  };
  for (const Entry& entry : entries) {
    const HRESULT hr = SetClassesString(entry.key, entry.name, entry.data);
    if (FAILED(hr)) return hr;
  }
  if (server.typelib) return SetClassesString(class_key + L"\\TypeLib", nullptr, entries_typelib);
  return S_OK;
}

HRESULT UnregisterServer(const ServerRegistration& server) {
  const std::wstring clsid = GuidString(server.clsid);
  const std::wstring progid = server.progid;
  HRESULT result = S_OK;
  const auto owner = ReadClassesString(progid + L"\\CLSID", nullptr);
  if (owner && CompareStringOrdinal(owner->c_str(), -1, clsid.c_str(), -1, TRUE) == CSTR_EQUAL) {
    result = DeleteClassesTree(progid);
  }
  const HRESULT hr = DeleteClassesTree(L"CLSID\\" + clsid);
  return FAILED(result) ? result : hr;
}

}  // namespace tolvex::win32
