#include "tolvex/type_library_registration.h"

#include <oleauto.h>

#include <cstdio>
#include <string>
#include <vector>

#include "com/com_ptr.h"
#include "com/module_state.h"
#include "com/unique_bstr.h"

namespace tolvex::win32 {
namespace {

const wchar_t kAutomationMarshaler[] = L"{00020424-0000-0000-C000-000000000046}";

const wchar_t* ThisSysKindName() { return sizeof(void*) == 8 ? L"win64" : L"win32"; }

std::wstring VersionKey(const TypeLibraryIdentity& identity) {
  wchar_t version[32];
  std::swprintf(version, 32, L"\\%x.%x", identity.major, identity.minor);
  return L"TypeLib\\" + GuidString(identity.libid) + version;
}

// This architecture's key of the library under one locale.
std::wstring ModuleKey(const TypeLibraryIdentity& identity, LCID locale) {
  wchar_t text[16];
  std::swprintf(text, 16, L"\\%lx\\", static_cast<unsigned long>(locale));
  return VersionKey(identity) + text + ThisSysKindName();
}

// The library's own locale, and the neutral one: the automation marshaler
// asks for locale 0, and a lookup by the user's locale (0x411 on a
// Japanese Windows) falls back to its primary language and then to 0,
// never to 0x409.
std::vector<LCID> Locales(const TypeLibraryIdentity& identity) {
  if (identity.locale == LOCALE_NEUTRAL) return {LOCALE_NEUTRAL};
  return {identity.locale, LOCALE_NEUTRAL};
}

// The interfaces clients marshal through the automation marshaler: the
// dispatch and dual ones.
HRESULT WriteInterfaces(RegistryWriter& writer, ITypeLib* library,
                        const TypeLibraryIdentity& identity) {
  wchar_t version[32];
  std::swprintf(version, 32, L"%x.%x", identity.major, identity.minor);
  const UINT count = library->GetTypeInfoCount();
  for (UINT i = 0; i < count; ++i) {
    TYPEKIND kind{};
    if (FAILED(library->GetTypeInfoType(i, &kind)) || kind != TKIND_DISPATCH) continue;
    com_ptr<ITypeInfo> info;
    if (FAILED(library->GetTypeInfo(i, info.put()))) continue;
    TYPEATTR* attributes = nullptr;
    if (FAILED(info->GetTypeAttr(&attributes))) continue;
    const std::wstring key = L"Interface\\" + GuidString(attributes->guid);
    info->ReleaseTypeAttr(attributes);
    unique_bstr name;
    library->GetDocumentation(static_cast<INT>(i), name.put(), nullptr, nullptr, nullptr);
    const struct {
      std::wstring key;
      const wchar_t* value;
      std::wstring data;
    } entries[] = {
        {key, nullptr, name.get() != nullptr ? name.get() : L""},
        {key + L"\\ProxyStubClsid", nullptr, kAutomationMarshaler},
        {key + L"\\ProxyStubClsid32", nullptr, kAutomationMarshaler},
        {key + L"\\TypeLib", nullptr, GuidString(identity.libid)},
        {key + L"\\TypeLib", L"Version", version},
    };
    for (const auto& entry : entries) {
      const HRESULT hr = writer.Set(entry.key, entry.value, entry.data);
      if (FAILED(hr)) return hr;
    }
  }
  return S_OK;
}

HRESULT RegisterForUser(RegistryWriter& writer, ITypeLib* library,
                        const TypeLibraryIdentity& identity) {
  const std::wstring module = ThisModulePath();
  const std::wstring folder = module.substr(0, module.find_last_of(L'\\'));
  unique_bstr name;
  unique_bstr doc;
  library->GetDocumentation(-1, name.put(), doc.put(), nullptr, nullptr);
  const wchar_t* title = doc.get() != nullptr && *doc.get() != L'\0' ? doc.get() : name.get();
  TLIBATTR* attributes = nullptr;
  HRESULT hr = library->GetLibAttr(&attributes);
  if (FAILED(hr)) return hr;
  const std::wstring flags = std::to_wstring(attributes->wLibFlags);
  library->ReleaseTLibAttr(attributes);

  const std::wstring version = VersionKey(identity);
  const struct {
    std::wstring key;
    std::wstring data;
  } entries[] = {
      {version, title != nullptr ? title : L""},
      {version + L"\\FLAGS", flags},
      {version + L"\\HELPDIR", folder},
  };
  for (const auto& entry : entries) {
    hr = writer.Set(entry.key, nullptr, entry.data);
    if (FAILED(hr)) return hr;
  }
  for (const LCID locale : Locales(identity)) {
    hr = writer.Set(ModuleKey(identity, locale), nullptr, module);
    if (FAILED(hr)) return hr;
  }
  return WriteInterfaces(writer, library, identity);
}

// The version key, and the library's key if no other version is left in it.
HRESULT DeleteSharedKeys(HKEY root, const TypeLibraryIdentity& identity) {
  const HRESULT hr = DeleteTree(root, VersionKey(identity));
  RegDeleteKeyW(root, (L"TypeLib\\" + GuidString(identity.libid)).c_str());
  return hr;
}

}  // namespace

HRESULT RegisterTypeLibrary(RegistrationScope scope, RegistryWriter& writer,
                            const TypeLibraryIdentity& identity) {
  com_ptr<ITypeLib> library;
  HRESULT hr = LoadTypeLibEx(ThisModulePath().c_str(), REGKIND_NONE, library.put());
  if (FAILED(hr)) return hr;
  if (scope == RegistrationScope::User) return RegisterForUser(writer, library.get(), identity);

  // The system reports a key it cannot write as TYPE_E_REGISTRYACCESS; the
  // version key written first tells the real reason (access denied).
  hr = writer.Set(VersionKey(identity) + L"\\FLAGS", nullptr, L"0");
  if (FAILED(hr)) return hr;
  const std::wstring module = ThisModulePath();
  hr = RegisterTypeLib(library.get(), const_cast<LPOLESTR>(module.c_str()), nullptr);
  if (FAILED(hr)) return hr;
  // The system writes the library's own locale only.
  for (const LCID locale : Locales(identity)) {
    if (locale == identity.locale) continue;
    hr = writer.Set(ModuleKey(identity, locale), nullptr, module);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

bool TypeLibraryRegistered(HKEY root, const TypeLibraryIdentity& identity) {
  return KeyExists(root, ModuleKey(identity, identity.locale));
}

HRESULT UnregisterTypeLibrary(HKEY root, const TypeLibraryIdentity& identity) {
  // Not the system's UnRegisterTypeLib: it removes the interface keys that
  // the other architecture still uses.
  HRESULT hr = S_OK;
  for (const LCID locale : Locales(identity)) {
    const HRESULT removed = DeleteTree(root, ModuleKey(identity, locale));
    if (SUCCEEDED(hr)) hr = removed;
  }
  if (FAILED(hr) || ServedInAnyView(root, identity.served_class)) return hr;
  // The last architecture: the shared keys, and the interface keys of
  // both views.
  com_ptr<ITypeLib> library;
  if (SUCCEEDED(LoadTypeLibEx(ThisModulePath().c_str(), REGKIND_NONE, library.put()))) {
    const UINT count = library->GetTypeInfoCount();
    for (UINT i = 0; i < count; ++i) {
      com_ptr<ITypeInfo> info;
      TYPEATTR* attributes = nullptr;
      if (FAILED(library->GetTypeInfo(i, info.put())) || FAILED(info->GetTypeAttr(&attributes))) {
        continue;
      }
      const std::wstring key = L"Interface\\" + GuidString(attributes->guid);
      info->ReleaseTypeAttr(attributes);
      for (REGSAM view : kBothViews) DeleteTree(root, key, view);
    }
  }
  return DeleteSharedKeys(root, identity);
}

}  // namespace tolvex::win32
