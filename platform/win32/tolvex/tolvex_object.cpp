#include "tolvex/tolvex_object.h"

#include <mutex>
#include <string>

#include "com/com_ptr.h"
#include "com/dispatch_args.h"
#include "com/module_state.h"
#include "com/unique_bstr.h"
#include "com/wide_string.h"
#include "component/result_codes.h"
#include "tolvex/call_apartment.h"
#include "tolvex/component_root.h"

namespace tolvex::win32 {
namespace {

struct NamedId {
  const wchar_t* name;
  DISPID id;
};

constexpr NamedId kMembers[] = {
    {L"ErrorMsg", kDispErrorMsg},
    {L"RecvSO", kDispRecvSO},
    {L"SendProgress", kDispSendProgress},
};

// Parameter names, for clients that pass arguments by name.
constexpr const wchar_t* kRecvParams[] = {L"RecvURL", L"RecvKey", L"RecvCode", L"vRecvFile"};
constexpr const wchar_t* kSendParams[] = {L"SendURL", L"SendKey", L"SendCode", L"vSendFile"};

bool SameName(const wchar_t* a, const wchar_t* b) {
  return CompareStringOrdinal(a, -1, b, -1, TRUE) == CSTR_EQUAL;
}

// A by-reference String the client may have left null.
std::u16string Text(const BSTR* value) { return value ? FromBstr(*value) : std::u16string(); }

// Held for the whole of a call. The dialog pumps the client's messages, so
// a client handler may drop its last reference meanwhile: the object, its
// thread's component root and the DLL must outlast the call all the same. The reference goes before
// the lock, so the module is still locked while the object is destroyed.
class CallHold {
 public:
  explicit CallHold(IUnknown* object) : object_(object) {
    object_->AddRef();
    LockModule(true);
  }
  CallHold(const CallHold&) = delete;
  CallHold& operator=(const CallHold&) = delete;
  ~CallHold() {
    object_->Release();
    LockModule(false);
  }

 private:
  IUnknown* object_;
};

}  // namespace

TolvexObject::TolvexObject() : root_(ComponentRoot::ForNewObject()), core_(root_->Services()) {}

std::unique_lock<std::mutex> TolvexObject::AgainstOtherThreads() {
  // On its single-threaded apartment a call only ever meets calls of the
  // same thread, which the job state refuses; a lock would deadlock them.
  if (InSingleThreadedApartment()) return std::unique_lock<std::mutex>();
  return std::unique_lock<std::mutex>(root_->CallLock());
}

std::int16_t TolvexObject::Call(DISPID method, const std::u16string& url, const std::u16string& key,
                                const std::u16string& code, const Variant& file) {
  auto run = [&] {
    return method == kDispRecvSO ? core_.RecvSO(url, key, code, file)
                                 : core_.SendProgress(url, key, code, file);
  };
  if (InSingleThreadedApartment()) return run();
  const std::lock_guard<std::mutex> one_call(root_->CallLock());
  return RunInOwnApartment(run);
}

HRESULT TolvexObject::QueryInterface(REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  if (iid == IID_IUnknown || iid == IID_IDispatch || iid == IID__Tolvex) {
    *out = static_cast<_Tolvex*>(this);
    AddRef();
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

HRESULT TolvexObject::GetTypeInfoCount(UINT* count) {
  if (count == nullptr) return E_POINTER;
  *count = 1;
  return S_OK;
}

HRESULT TolvexObject::GetTypeInfo(UINT index, LCID, ITypeInfo** info) {
  if (info == nullptr) return E_POINTER;
  *info = nullptr;
  if (index != 0) return DISP_E_BADINDEX;
  com_ptr<ITypeLib> library;
  const HRESULT hr = LoadTypeLibEx(ThisModulePath().c_str(), REGKIND_NONE, library.put());
  if (FAILED(hr)) return hr;
  return library->GetTypeInfoOfGuid(IID__Tolvex, info);
}

HRESULT TolvexObject::GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
  if (iid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
  if (names == nullptr || ids == nullptr || count == 0) return E_INVALIDARG;
  ids[0] = DISPID_UNKNOWN;
  for (const NamedId& member : kMembers) {
    if (SameName(names[0], member.name)) ids[0] = member.id;
  }
  const wchar_t* const* params = ids[0] == kDispRecvSO         ? kRecvParams
                                 : ids[0] == kDispSendProgress ? kSendParams
                                                               : nullptr;
  HRESULT hr = ids[0] == DISPID_UNKNOWN ? DISP_E_UNKNOWNNAME : S_OK;
  for (UINT i = 1; i < count; ++i) {
    ids[i] = DISPID_UNKNOWN;
    for (DISPID p = 0; params != nullptr && p < 4; ++p) {
      if (SameName(names[i], params[p])) ids[i] = p;
    }
    if (ids[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
  }
  return hr;
}

HRESULT TolvexObject::Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* params,
                             VARIANT* result, EXCEPINFO*, UINT* bad_argument) {
  if (iid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
  const CallHold hold(this);
  try {
    switch (id) {
      case kDispErrorMsg:
        if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
          const VARIANT* value = PutArgument(params);
          if (value == nullptr) return DISP_E_PARAMNOTOPTIONAL;
          std::u16string text = StringArgument(value);
          const auto lock = AgainstOtherThreads();
          core_.ErrorMsg = std::move(text);
          return S_OK;
        }
        if (flags & (DISPATCH_PROPERTYGET | DISPATCH_METHOD)) {
          if (params != nullptr && params->cArgs != 0) return DISP_E_BADPARAMCOUNT;
          if (result != nullptr) {
            const auto lock = AgainstOtherThreads();
            VariantInit(result);
            V_VT(result) = VT_BSTR;
            V_BSTR(result) = unique_bstr::From(core_.ErrorMsg).release();
          }
          return S_OK;
        }
        return DISP_E_MEMBERNOTFOUND;
      case kDispRecvSO:
      case kDispSendProgress:
        if (!(flags & DISPATCH_METHOD)) return DISP_E_MEMBERNOTFOUND;
        return InvokeMethod(id, params, result, bad_argument);
      default:
        return DISP_E_MEMBERNOTFOUND;
    }
  } catch (...) {
    // Only an allocation failure can come here; the member still reports
    // nothing to the client beyond "no outcome".
    if (result != nullptr && (id == kDispRecvSO || id == kDispSendProgress)) {
      VariantClear(result);
      V_VT(result) = VT_I2;
      V_I2(result) = kResultNoOutcome;
    }
    return S_OK;
  }
}

HRESULT TolvexObject::InvokeMethod(DISPID id, DISPPARAMS* params, VARIANT* result,
                                   UINT* bad_argument) {
  const auto args = ArgumentsInOrder(params, 4, bad_argument);
  if (!args) return DISP_E_BADPARAMCOUNT;
  const std::u16string url = StringArgument((*args)[0]);
  const std::u16string key = StringArgument((*args)[1]);
  const std::u16string code = StringArgument((*args)[2]);
  const Variant file = VariantArgument((*args)[3]);
  const std::int16_t outcome = Call(id, url, key, code, file);
  if (result != nullptr) {
    VariantInit(result);
    V_VT(result) = VT_I2;
    V_I2(result) = outcome;
  }
  return S_OK;
}

HRESULT TolvexObject::get_ErrorMsg(BSTR* value) {
  if (value == nullptr) return S_OK;
  try {
    const auto lock = AgainstOtherThreads();
    *value = unique_bstr::From(core_.ErrorMsg).release();
  } catch (...) {
    *value = nullptr;
  }
  return S_OK;
}

HRESULT TolvexObject::put_ErrorMsg(BSTR value) {
  try {
    std::u16string text = FromBstr(value);
    const auto lock = AgainstOtherThreads();
    core_.ErrorMsg = std::move(text);
  } catch (...) {
  }
  return S_OK;
}

HRESULT TolvexObject::RecvSO(BSTR* url, BSTR* key, BSTR* code, VARIANT* file, short* result) {
  const CallHold hold(this);
  try {
    const std::int16_t outcome =
        Call(kDispRecvSO, Text(url), Text(key), Text(code), VariantArgument(file));
    if (result != nullptr) *result = outcome;
  } catch (...) {
    if (result != nullptr) *result = kResultNoOutcome;
  }
  return S_OK;
}

HRESULT TolvexObject::SendProgress(BSTR* url, BSTR* key, BSTR* code, VARIANT* file, short* result) {
  const CallHold hold(this);
  try {
    const std::int16_t outcome =
        Call(kDispSendProgress, Text(url), Text(key), Text(code), VariantArgument(file));
    if (result != nullptr) *result = outcome;
  } catch (...) {
    if (result != nullptr) *result = kResultNoOutcome;
  }
  return S_OK;
}

}  // namespace tolvex::win32
