// The registry entries of self-registration, written under
// HKEY_CLASSES_ROOT. Each helper returns an HRESULT so DllRegisterServer can
// pass the first failure on.
#pragma once

#include "com/win32_api.h"

#include <optional>
#include <string>

namespace tolvex::win32 {

// Creates the key as needed and sets one string value; value_name null sets
// the key's default value.
HRESULT SetClassesString(const std::wstring& key, const wchar_t* value_name,
                         const std::wstring& data);
// Removes the key with everything below it; a missing key is no error.
HRESULT DeleteClassesTree(const std::wstring& key);
std::optional<std::wstring> ReadClassesString(const std::wstring& key, const wchar_t* value_name);

// "{XXXXXXXX-...}" as the registry spells identifiers.
std::wstring GuidString(REFGUID guid);

struct ServerRegistration {
  REFCLSID clsid;
  const wchar_t* progid;
  const wchar_t* description;
  const wchar_t* version;  // "1.0"
  const GUID* typelib;     // null when the server has no type library
};

// CLSID\{clsid} with InprocServer32 (this DLL, apartment threaded), ProgID,
// VERSION and TypeLib, and the ProgID key pointing back at the class.
HRESULT RegisterServer(const ServerRegistration& server);
// Removes what RegisterServer wrote. The ProgID key goes only while it
// still names this class, so another server registered under the same
// ProgID keeps its entry.
HRESULT UnregisterServer(const ServerRegistration& server);

}  // namespace tolvex::win32
