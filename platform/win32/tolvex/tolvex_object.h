// The creatable class Tolvex: the dual interface _Tolvex over the portable
// call sequence. The vtable serves early-bound clients; IDispatch is
// written out here rather than handed to the type library, because the
// standard implementation rejects script variables (VT_BYREF|VT_VARIANT)
// for String parameters. No member ever fails: outcomes travel in the
// result code and ErrorMsg only.
//
// Thread contract: registered ThreadingModel=Both. Made on a
// single-threaded apartment it serves that thread's component root and is
// called on that thread (other apartments reach it through COM's
// marshaling, which brings their calls there). Made in the multithreaded
// apartment it has a root of its own and may be called from any thread of
// that apartment: each call runs its dialog and job on a thread made for
// it while the caller waits, and calls on one object from several threads
// run one after the other.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "com/com_object.h"
#include "component/tolvex.h"
#include "tolvex_h.h"

namespace tolvex::win32 {

class ComponentRoot;

inline constexpr DISPID kDispErrorMsg = 0x40030000;
inline constexpr DISPID kDispRecvSO = 0x60030001;
inline constexpr DISPID kDispSendProgress = 0x60030002;

class TolvexObject final : public _Tolvex, private RefCounted<TolvexObject> {
  friend RefCounted<TolvexObject>;

 public:
  TolvexObject();

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return AddRefCount(); }
  ULONG STDMETHODCALLTYPE Release() override { return ReleaseCount(); }

  // IDispatch
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale,
                                          DISPID* ids) override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID locale, WORD flags,
                                   DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                                   UINT* bad_argument) override;

  // _Tolvex
  HRESULT STDMETHODCALLTYPE get_ErrorMsg(BSTR* value) override;
  HRESULT STDMETHODCALLTYPE put_ErrorMsg(BSTR value) override;
  HRESULT STDMETHODCALLTYPE RecvSO(BSTR* url, BSTR* key, BSTR* code, VARIANT* file,
                                   short* result) override;
  HRESULT STDMETHODCALLTYPE SendProgress(BSTR* url, BSTR* key, BSTR* code, VARIANT* file,
                                         short* result) override;

 private:
  HRESULT InvokeMethod(DISPID id, DISPPARAMS* params, VARIANT* result, UINT* bad_argument);
  // RecvSO or SendProgress (by `method`) in the apartment the call needs.
  std::int16_t Call(DISPID method, const std::u16string& url, const std::u16string& key,
                    const std::u16string& code, const Variant& file);
  // Held while ErrorMsg is read or written from the multithreaded
  // apartment, where a call may run on another thread; empty elsewhere.
  std::unique_lock<std::mutex> AgainstOtherThreads();

  // Before core_, which takes its services from it.
  std::shared_ptr<ComponentRoot> root_;
  tolvex::Tolvex core_;
};

}  // namespace tolvex::win32
