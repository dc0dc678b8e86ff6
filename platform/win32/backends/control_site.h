// The client site a control gets when we host it as a form would: enough
// for a control that asks its container who it is, without a window to
// sit in. The site answers the ambient properties through IDispatch;
// everything about placement and persistence is declined.
#pragma once

#include "com/win32_api.h"

#include <oaidl.h>
#include <oleidl.h>

#include "com/com_object.h"

namespace tolvex::win32 {

class ControlSite final : public IOleClientSite, public IDispatch, private RefCounted<ControlSite> {
  friend RefCounted<ControlSite>;

 public:
  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return AddRefCount(); }
  ULONG STDMETHODCALLTYPE Release() override { return ReleaseCount(); }

  // IOleClientSite
  HRESULT STDMETHODCALLTYPE SaveObject() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetMoniker(DWORD, DWORD, IMoniker** moniker) override;
  HRESULT STDMETHODCALLTYPE GetContainer(IOleContainer** container) override;
  HRESULT STDMETHODCALLTYPE ShowObject() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnShowWindow(BOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE RequestNewObjectLayout() override { return E_NOTIMPL; }

  // IDispatch: the ambient properties.
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale,
                                          DISPID* ids) override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID locale, WORD flags,
                                   DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                                   UINT* bad_argument) override;
};

// The value of one ambient property as this site answers it; false for a
// property the site does not know, which the control then takes from its
// own defaults.
bool AmbientProperty(DISPID id, VARIANT* value);

}  // namespace tolvex::win32
