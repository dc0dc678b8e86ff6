// The exports of Tolvex.dll: self-registration and the class object.
#include "com/win32_api.h"

#include <oleauto.h>
#include <olectl.h>

#include "com/class_factory.h"
#include "com/com_ptr.h"
#include "com/module_state.h"
#include "com/registry.h"
#include "tolvex/tolvex_object.h"

using tolvex::win32::ServerRegistration;

namespace {

constexpr WORD kLibraryMajor = 1;
constexpr WORD kLibraryMinor = 0;
constexpr LCID kLibraryLocale = 0x0409;

ServerRegistration TolvexRegistration() {
  return ServerRegistration{CLSID_Tolvex, L"TolvexPro.Tolvex", L"TolvexPro.Tolvex", L"1.0",
                            &LIBID_TolvexPro};
}

SYSKIND ThisSysKind() { return sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32; }

}  // namespace

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
  return tolvex::win32::GetClassObjectFor<tolvex::win32::TolvexObject>(CLSID_Tolvex, clsid, iid,
                                                                       out);
}

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() {
  using namespace tolvex::win32;
  tolvex::win32::com_ptr<ITypeLib> library;
  HRESULT hr = LoadTypeLibEx(ThisModulePath().c_str(), REGKIND_REGISTER, library.put());
  if (FAILED(hr)) return SELFREG_E_TYPELIB;
  hr = RegisterServer(TolvexRegistration());
  return FAILED(hr) ? SELFREG_E_CLASS : S_OK;
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() {
  using namespace tolvex::win32;
  const HRESULT library = UnRegisterTypeLib(LIBID_TolvexPro, kLibraryMajor, kLibraryMinor,
                                            kLibraryLocale, ThisSysKind());
  const HRESULT server = UnregisterServer(TolvexRegistration());
  if (FAILED(server)) return SELFREG_E_CLASS;
  // A library that is not registered any more is what unregistration wants.
  if (FAILED(library) && library != TYPE_E_REGISTRYACCESS && library != TYPE_E_CANTLOADLIBRARY) {
    return SELFREG_E_TYPELIB;
  }
  return S_OK;
}
