// The exports of TolvexArchiver.dll, a test fixture that registers under
// the archive control's ProgID. It never ships: the component falls back
// to its own archiver in-process where that ProgID names no usable class.
#include "com/win32_api.h"

#include "archiver/archiver_object.h"
#include "backends/late_bound_archive_control.h"
#include "com/class_factory.h"
#include "com/module_state.h"
#include "com/registry.h"

using namespace tolvex::win32;

namespace {

ServerRegistration ArchiverRegistration() {
  return ServerRegistration{kArchiverClsid, kArchiveControlProgId,
                            L"Tolvex stand-in archive control", L"1.0", nullptr};
}

// Under a ProgID of its own: a test points the control's ProgID at it.
ServerRegistration ContainedRegistration() {
  return ServerRegistration{kContainedArchiverClsid, L"TolvexArchiver.NeedsContainer",
                            L"Tolvex stand-in archive control that needs a container", L"1.0",
                            nullptr};
}

ServerRegistration BagRegistration() {
  return ServerRegistration{kBagArchiverClsid, L"TolvexArchiver.NeedsContainerBag",
                            L"Tolvex stand-in archive control initialised from a property bag",
                            L"1.0", nullptr};
}

}  // namespace

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
  if (clsid == kContainedArchiverClsid) {
    return GetClassObjectFor<ArchiverObject, ArchiverMode::NeedsContainer>(kContainedArchiverClsid,
                                                                           clsid, iid, out);
  }
  if (clsid == kBagArchiverClsid) {
    return GetClassObjectFor<ArchiverObject, ArchiverMode::NeedsContainerBag>(kBagArchiverClsid,
                                                                              clsid, iid, out);
  }
  return GetClassObjectFor<ArchiverObject>(kArchiverClsid, clsid, iid, out);
}

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() {
  RegistryWriter writer(HKEY_CLASSES_ROOT);
  for (const ServerRegistration& server :
       {ArchiverRegistration(), ContainedRegistration(), BagRegistration()}) {
    const HRESULT hr = RegisterServer(writer, server);
    if (FAILED(hr)) {
      writer.Rollback();
      return hr;
    }
  }
  return S_OK;
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() {
  HRESULT result = S_OK;
  for (const ServerRegistration& server :
       {BagRegistration(), ContainedRegistration(), ArchiverRegistration()}) {
    const HRESULT hr = UnregisterServer(HKEY_CLASSES_ROOT, server);
    if (FAILED(hr) && SUCCEEDED(result)) result = hr;
  }
  return result;
}

// What the container did to the last object of a class that needs one
// (HostingRecord bits), for the tests of the component's hosting.
extern "C" DWORD STDAPICALLTYPE TolvexArchiverHosting() { return LastHosting(); }
