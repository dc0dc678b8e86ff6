// The exports of Tolvex.dll: self-registration, for all users
// (DllRegisterServer) or with `regsvr32 /n /i:user` for the current user
// only (DllInstall), and the class object.
#include "com/win32_api.h"

#include <oleauto.h>

#include "com/class_factory.h"
#include "com/registry.h"
#include "tolvex/tolvex_object.h"
#include "tolvex/type_library_registration.h"

using namespace tolvex::win32;

namespace {

ServerRegistration TolvexRegistration() {
  ServerRegistration server{CLSID_Tolvex, L"TolvexPro.Tolvex", L"TolvexPro.Tolvex", L"1.0",
                            &LIBID_TolvexPro};
  // Made in whichever apartment makes it: a call from the multithreaded
  // apartment runs its dialog on a thread of its own (tolvex_object.h).
  server.threading_model = L"Both";
  return server;
}

TypeLibraryIdentity TolvexLibrary() {
  return TypeLibraryIdentity{LIBID_TolvexPro, 1, 0, 0x0409, CLSID_Tolvex};
}

// All or nothing: a registration that fails takes back every key it made,
// and returns the failure as it is (E_ACCESSDENIED, ...), so regsvr32
// can say why.
HRESULT Register(RegistrationScope scope) {
  const ClassesRoot root(scope);
  if (FAILED(root.status())) return root.status();
  RegistryWriter writer(root.get());
  // The system's type library registration writes keys the writer does
  // not see; a library that was not there before goes again as a whole.
  const bool library_before = TypeLibraryRegistered(root.get(), TolvexLibrary());
  HRESULT hr = RegisterTypeLibrary(scope, writer, TolvexLibrary());
  if (SUCCEEDED(hr)) hr = RegisterServer(writer, TolvexRegistration());
  if (FAILED(hr)) {
    writer.Rollback();
    if (!library_before) UnregisterTypeLibrary(root.get(), TolvexLibrary());
  }
  return hr;
}

HRESULT Unregister(RegistrationScope scope) {
  const ClassesRoot root(scope);
  if (root.status() == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)) return S_OK;
  if (FAILED(root.status())) return root.status();
  // The class first: the shared keys below go only once no view serves it.
  const HRESULT server = UnregisterServer(root.get(), TolvexRegistration());
  const HRESULT library = UnregisterTypeLibrary(root.get(), TolvexLibrary());
  return FAILED(server) ? server : library;
}

}  // namespace

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
  return GetClassObjectFor<TolvexObject>(CLSID_Tolvex, clsid, iid, out);
}

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() {
  return Register(RegistrationScope::Machine);
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() {
  return Unregister(RegistrationScope::Machine);
}

// regsvr32 [/u] /n /i:user: the same registration under
// HKCU\Software\Classes, for a user without administrator rights. Without
// a command line, as for the machine.
extern "C" HRESULT STDAPICALLTYPE DllInstall(BOOL install, LPCWSTR command_line) {
  RegistrationScope scope = RegistrationScope::Machine;
  if (command_line != nullptr && *command_line != L'\0') {
    if (CompareStringOrdinal(command_line, -1, L"user", -1, TRUE) != CSTR_EQUAL) {
      return E_INVALIDARG;
    }
    scope = RegistrationScope::User;
  }
  return install ? Register(scope) : Unregister(scope);
}
