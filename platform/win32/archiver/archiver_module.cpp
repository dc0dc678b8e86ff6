// The exports of TolvexArchiver.dll, registered under the archive
// control's ProgID.
#include "com/win32_api.h"

#include <olectl.h>

#include "archiver/archiver_object.h"
#include "backends/late_bound_archive_control.h"
#include "com/class_factory.h"
#include "com/module_state.h"
#include "com/registry.h"

namespace {

tolvex::win32::ServerRegistration ArchiverRegistration() {
  return tolvex::win32::ServerRegistration{tolvex::win32::kArchiverClsid,
                                           tolvex::win32::kArchiveControlProgId,
                                           L"Tolvex stand-in archive control", L"1.0", nullptr};
}

}  // namespace

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
  return tolvex::win32::GetClassObjectFor<tolvex::win32::ArchiverObject>(
      tolvex::win32::kArchiverClsid, clsid, iid, out);
}

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() {
  return FAILED(tolvex::win32::RegisterServer(ArchiverRegistration())) ? SELFREG_E_CLASS : S_OK;
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() {
  return FAILED(tolvex::win32::UnregisterServer(ArchiverRegistration())) ? SELFREG_E_CLASS : S_OK;
}
