// The class factory of an in-process server: makes Objects on request,
// each constructed from `kArgs`. A factory counts as a live object, so
// DllCanUnloadNow stays false while a client holds one.
#pragma once

#include "com/win32_api.h"

#include <unknwn.h>

#include "com/com_object.h"

namespace tolvex::win32 {

template <class Object, auto... kArgs>
class ClassFactory final : public IClassFactory,
                           private RefCounted<ClassFactory<Object, kArgs...>> {
  using Counter = RefCounted<ClassFactory<Object, kArgs...>>;
  friend Counter;

 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IClassFactory) {
      *out = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return Counter::AddRefCount(); }
  ULONG STDMETHODCALLTYPE Release() override { return Counter::ReleaseCount(); }

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    return MakeComObject<Object>(iid, out, kArgs...);
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    LockModule(lock != FALSE);
    return S_OK;
  }
};

// DllGetClassObject for the class `clsid`, its objects made from `kArgs`.
template <class Object, auto... kArgs>
HRESULT GetClassObjectFor(REFCLSID clsid, REFCLSID requested, REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (requested != clsid) return CLASS_E_CLASSNOTAVAILABLE;
  return MakeComObject<ClassFactory<Object, kArgs...>>(iid, out);
}

}  // namespace tolvex::win32
