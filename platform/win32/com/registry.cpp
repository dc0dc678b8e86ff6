#include "com/registry.h"

#include <objbase.h>

#include <algorithm>

#include "com/module_state.h"
#include "com/unique_hkey.h"

namespace tolvex::win32 {

ClassesRoot::ClassesRoot(RegistrationScope scope) {
  if (scope == RegistrationScope::Machine) {
    key_ = HKEY_CLASSES_ROOT;
    return;
  }
  const LSTATUS status = RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Classes", 0, nullptr, 0,
                                         KEY_READ | KEY_WRITE, nullptr, &key_, nullptr);
  status_ = HRESULT_FROM_WIN32(status);
  owned_ = status == ERROR_SUCCESS;
  if (!owned_) key_ = nullptr;
}

ClassesRoot::~ClassesRoot() {
  if (owned_) RegCloseKey(key_);
}

HRESULT RegistryWriter::Set(const std::wstring& key, const wchar_t* value_name,
                            const std::wstring& data) {
  // Level by level, so that every key this registration brings into being
  // is known and can be taken back.
  unique_hkey handle;
  std::size_t end = 0;
  do {
    end = key.find(L'\\', end + 1);
    const std::wstring level = key.substr(0, end);
    unique_hkey next;
    DWORD disposition = 0;
    const LSTATUS status = RegCreateKeyExW(root_, level.c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                                           nullptr, next.put(), &disposition);
    if (status != ERROR_SUCCESS) return HRESULT_FROM_WIN32(status);
    if (disposition == REG_CREATED_NEW_KEY) created_.push_back(level);
    if (end == std::wstring::npos) handle = std::move(next);
  } while (end != std::wstring::npos);
  const auto bytes = static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t));
  return HRESULT_FROM_WIN32(RegSetValueExW(handle.get(), value_name, 0, REG_SZ,
                                           reinterpret_cast<const BYTE*>(data.c_str()), bytes));
}

void RegistryWriter::Rollback() noexcept {
  for (auto it = created_.rbegin(); it != created_.rend(); ++it) DeleteTree(root_, *it);
  created_.clear();
}

HRESULT DeleteTree(HKEY root, const std::wstring& key, REGSAM view) {
  unique_hkey handle;
  LSTATUS status = RegOpenKeyExW(root, key.c_str(), 0, KEY_ALL_ACCESS | view, handle.put());
  if (status == ERROR_FILE_NOT_FOUND) return S_OK;
  if (status != ERROR_SUCCESS) return HRESULT_FROM_WIN32(status);
  status = RegDeleteTreeW(handle.get(), nullptr);
  if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) return HRESULT_FROM_WIN32(status);
  status = RegDeleteKeyExW(root, key.c_str(), view, 0);
  return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND ? S_OK
                                                                   : HRESULT_FROM_WIN32(status);
}

bool KeyExists(HKEY root, const std::wstring& key, REGSAM view) {
  unique_hkey handle;
  return RegOpenKeyExW(root, key.c_str(), 0, KEY_READ | view, handle.put()) == ERROR_SUCCESS;
}

std::optional<std::wstring> ReadString(HKEY root, const std::wstring& key,
                                       const wchar_t* value_name) {
  DWORD bytes = 0;
  if (RegGetValueW(root, key.c_str(), value_name, RRF_RT_REG_SZ, nullptr, nullptr, &bytes) !=
      ERROR_SUCCESS) {
    return std::nullopt;
  }
  std::wstring text(bytes / sizeof(wchar_t), L'\0');
  if (RegGetValueW(root, key.c_str(), value_name, RRF_RT_REG_SZ, nullptr, text.data(), &bytes) !=
      ERROR_SUCCESS) {
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

HRESULT RegisterServer(RegistryWriter& writer, const ServerRegistration& server) {
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
  const Entry entries[] = {
      {class_key, nullptr, server.description},
      {class_key + L"\\InprocServer32", nullptr, module},
      {class_key + L"\\InprocServer32", L"ThreadingModel", server.threading_model},
      {class_key + L"\\ProgID", nullptr, progid},
      {class_key + L"\\VERSION", nullptr, server.version},
      {class_key + L"\\Programmable", nullptr, L""},
      {progid, nullptr, server.description},
      {progid + L"\\CLSID", nullptr, clsid},
  };
  for (const Entry& entry : entries) {
    const HRESULT hr = writer.Set(entry.key, entry.name, entry.data);
    if (FAILED(hr)) return hr;
  }
  if (server.typelib) {
    return writer.Set(class_key + L"\\TypeLib", nullptr, GuidString(*server.typelib));
  }
  return S_OK;
}

bool ServedInAnyView(HKEY root, REFCLSID clsid) {
  const std::wstring server = L"CLSID\\" + GuidString(clsid) + L"\\InprocServer32";
  return std::any_of(std::begin(kBothViews), std::end(kBothViews),
                     [&](REGSAM view) { return KeyExists(root, server, view); });
}

HRESULT UnregisterServer(HKEY root, const ServerRegistration& server) {
  const std::wstring clsid = GuidString(server.clsid);
  const std::wstring progid = server.progid;
  const HRESULT removed = DeleteTree(root, L"CLSID\\" + clsid);
  if (FAILED(removed) || ServedInAnyView(root, server.clsid)) return removed;
  const auto owner = ReadString(root, progid + L"\\CLSID", nullptr);
  if (owner && CompareStringOrdinal(owner->c_str(), -1, clsid.c_str(), -1, TRUE) == CSTR_EQUAL) {
    return DeleteTree(root, progid);
  }
  return S_OK;
}

}  // namespace tolvex::win32
