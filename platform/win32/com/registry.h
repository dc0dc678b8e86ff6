// The registry entries of self-registration, for all users (written through
// HKEY_CLASSES_ROOT, which lands them in HKLM\Software\Classes) or for the
// current user only (HKCU\Software\Classes). Every helper returns the real
// HRESULT of the first failure (E_ACCESSDENIED for a user without rights),
// so regsvr32 can tell the user why.
#pragma once

#include "com/win32_api.h"

#include <optional>
#include <string>
#include <vector>

namespace tolvex::win32 {

enum class RegistrationScope { Machine, User };

// The root of the classes of a scope, open for reading and writing.
class ClassesRoot {
 public:
  explicit ClassesRoot(RegistrationScope scope);
  ClassesRoot(const ClassesRoot&) = delete;
  ClassesRoot& operator=(const ClassesRoot&) = delete;
  ~ClassesRoot();

  // S_OK, or why the root could not be opened.
  HRESULT status() const { return status_; }
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
  bool owned_ = false;
  HRESULT status_ = S_OK;
};

// Writes string values below one root and remembers every key it created,
// so a registration that fails half-way can take back exactly what it
// wrote: keys that existed before stay.
class RegistryWriter {
 public:
  explicit RegistryWriter(HKEY root) : root_(root) {}
  RegistryWriter(const RegistryWriter&) = delete;
  RegistryWriter& operator=(const RegistryWriter&) = delete;

  // Creates the key as needed and sets one string value; value_name null
  // sets the key's default value.
  HRESULT Set(const std::wstring& key, const wchar_t* value_name, const std::wstring& data);
  // Deletes the keys this writer created, the deepest first.
  void Rollback() noexcept;

 private:
  HKEY root_;
  std::vector<std::wstring> created_;
};

// The registry views of a 64-bit Windows, both of them, for the keys that
// each architecture has a copy of. On 32-bit Windows both name the one view.
inline constexpr REGSAM kBothViews[] = {KEY_WOW64_32KEY, KEY_WOW64_64KEY};

// Removes the key with everything below it in one view (0: this process's
// own); a missing key is no error.
HRESULT DeleteTree(HKEY root, const std::wstring& key, REGSAM view = 0);
bool KeyExists(HKEY root, const std::wstring& key, REGSAM view = 0);
std::optional<std::wstring> ReadString(HKEY root, const std::wstring& key,
                                       const wchar_t* value_name);

// "{XXXXXXXX-...}" as the registry spells identifiers.
std::wstring GuidString(REFGUID guid);

struct ServerRegistration {
  REFCLSID clsid;
  const wchar_t* progid;
  const wchar_t* description;
  const wchar_t* version;  // "1.0"
  const GUID* typelib;     // null when the server has no type library
  // InprocServer32's ThreadingModel: "Apartment" for a control that lives
  // on one thread, "Both" for a class made in whichever apartment makes it.
  const wchar_t* threading_model = L"Apartment";
};

// CLSID\{clsid} with InprocServer32 (this DLL and its threading model),
// ProgID, VERSION and TypeLib, and the ProgID key pointing back at the
// class.
HRESULT RegisterServer(RegistryWriter& writer, const ServerRegistration& server);
// Whether the class is registered in either view of the root: the other
// architecture's DLL may still serve it.
bool ServedInAnyView(HKEY root, REFCLSID clsid);
// Removes the class of this process's view. The ProgID key, which both
// views share, goes only once no view serves the class any more, and only
// while it still names this class, so another server registered under the
// same ProgID keeps its entry.
HRESULT UnregisterServer(HKEY root, const ServerRegistration& server);

}  // namespace tolvex::win32
