#include "archiver/archiver_object.h"

#include <olectl.h>

#include <atomic>
#include <exception>
#include <stdexcept>
#include <string>

#include "com/dispatch_args.h"
#include "com/unique_bstr.h"
#include "com/unique_variant.h"
#include "com/wide_string.h"
#include "component/path_style.h"
#include "component/text.h"

namespace tolvex::win32 {
namespace {

std::atomic<DWORD> g_last_hosting{0};

const ArchiveOpInfo* FindOp(DISPID id) {
  for (const ArchiveOpInfo& op : kArchiveOps) {
    if (op.dispid == id) return &op;
  }
  return nullptr;
}

// Converts a put value to the property's type; false when it has none.
bool ValueAs(const VARIANT* value, VARTYPE type, unique_variant& out) {
  return SUCCEEDED(VariantChangeType(out.get(), const_cast<VARIANT*>(Unwrapped(value)), 0, type));
}

void Raise(EXCEPINFO* exception, const std::string& message) {
  if (exception == nullptr) return;
  *exception = EXCEPINFO{};
  exception->scode = E_FAIL;
  try {
    exception->bstrSource = unique_bstr::From(u"MarloxO.Marlox").release();
    exception->bstrDescription = unique_bstr::From(FromUtf8(message)).release();
  } catch (...) {
  }
}

bool AmbientUserMode(IOleClientSite* site) {
  com_ptr<IDispatch> ambient;
  if (FAILED(site->QueryInterface(IID_IDispatch, ambient.put_void()))) return false;
  DISPPARAMS none{};
  VARIANT value;
  VariantInit(&value);
  const HRESULT hr = ambient->Invoke(DISPID_AMBIENT_USERMODE, IID_NULL, LOCALE_USER_DEFAULT,
                                     DISPATCH_PROPERTYGET, &none, &value, nullptr, nullptr);
  const bool user_mode =
      SUCCEEDED(hr) && V_VT(&value) == VT_BOOL && V_BOOL(&value) != VARIANT_FALSE;
  VariantClear(&value);
  return user_mode;
}

}  // namespace

DWORD LastHosting() { return g_last_hosting.load(); }

ArchiverObject::ArchiverObject(ArchiverMode mode)
    : mode_(mode), archiver_(files_, kWindowsPathStyle) {
  if (mode_ != ArchiverMode::Plain) g_last_hosting = kHostCreated;
}

ArchiverObject::~ArchiverObject() {
  if (site_) Record(kHostReleasedSited);
}

void ArchiverObject::Record(DWORD what) {
  if (mode_ != ArchiverMode::Plain) g_last_hosting |= what;
}

bool ArchiverObject::Hosted() {
  if (mode_ == ArchiverMode::Plain) return true;
  if (initialised_ && site_ && user_mode_ && !closed_) return true;
  Record(kHostRefused);
  return false;
}

HRESULT ArchiverObject::QueryInterface(REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  const bool contained = mode_ != ArchiverMode::Plain;
  const bool stream = mode_ == ArchiverMode::NeedsContainer;
  const bool bag = mode_ == ArchiverMode::NeedsContainerBag;
  if (iid == IID_IUnknown || iid == IID_IDispatch) {
    *out = static_cast<IDispatch*>(this);
  } else if (contained && iid == IID_IOleObject) {
    *out = static_cast<IOleObject*>(this);
  } else if (stream && (iid == IID_IPersistStreamInit || iid == IID_IPersist)) {
    *out = static_cast<IPersistStreamInit*>(this);
  } else if (bag && (iid == IID_IPersistPropertyBag || iid == IID_IPersist)) {
    *out = static_cast<IPersistPropertyBag*>(this);
  } else {
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

HRESULT ArchiverObject::SetClientSite(IOleClientSite* site) {
  if (site == nullptr) {
    if (site_ && closed_) Record(kHostUnsited);
    site_.reset();
    return S_OK;
  }
  site->AddRef();
  *site_.put() = site;
  Record(kHostSited);
  user_mode_ = AmbientUserMode(site);
  if (user_mode_) Record(kHostUserMode);
  return S_OK;
}

HRESULT ArchiverObject::GetClientSite(IOleClientSite** site) {
  if (site == nullptr) return E_POINTER;
  *site = site_.get();
  if (*site != nullptr) (*site)->AddRef();
  return S_OK;
}

HRESULT ArchiverObject::Close(DWORD) {
  closed_ = true;
  Record(kHostClosed);
  return S_OK;
}

HRESULT ArchiverObject::GetMoniker(DWORD, DWORD, IMoniker** moniker) {
  if (moniker != nullptr) *moniker = nullptr;
  return E_NOTIMPL;
}

HRESULT ArchiverObject::GetClipboardData(DWORD, IDataObject** data) {
  if (data != nullptr) *data = nullptr;
  return E_NOTIMPL;
}

HRESULT ArchiverObject::EnumVerbs(IEnumOLEVERB** verbs) {
  if (verbs != nullptr) *verbs = nullptr;
  return E_NOTIMPL;
}

HRESULT ArchiverObject::GetUserType(DWORD, LPOLESTR* name) {
  if (name != nullptr) *name = nullptr;
  return OLE_S_USEREG;
}

HRESULT ArchiverObject::Advise(IAdviseSink*, DWORD* connection) {
  if (connection != nullptr) *connection = 0;
  return E_NOTIMPL;
}

HRESULT ArchiverObject::EnumAdvise(IEnumSTATDATA** advise) {
  if (advise != nullptr) *advise = nullptr;
  return E_NOTIMPL;
}

HRESULT ArchiverObject::GetMiscStatus(DWORD, DWORD* status) {
  if (status == nullptr) return E_POINTER;
  // Like most controls without a user interface: never visible when
  // running, and it wants its site before its properties.
  *status = OLEMISC_INVISIBLEATRUNTIME | OLEMISC_SETCLIENTSITEFIRST;
  return S_OK;
}

HRESULT ArchiverObject::GetClassID(CLSID* clsid) {
  if (clsid == nullptr) return E_POINTER;
  *clsid = mode_ == ArchiverMode::NeedsContainer      ? kContainedArchiverClsid
           : mode_ == ArchiverMode::NeedsContainerBag ? kBagArchiverClsid
                                                      : kArchiverClsid;
  return S_OK;
}

HRESULT ArchiverObject::InitNew() {
  // A control is initialised once, from a stream or as new.
  if (initialised_) return E_UNEXPECTED;
  initialised_ = true;
  Record(kHostInitialised);
  return S_OK;
}

HRESULT ArchiverObject::GetTypeInfoCount(UINT* count) {
  if (count == nullptr) return E_POINTER;
  *count = 0;
  return S_OK;
}

HRESULT ArchiverObject::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
  if (info != nullptr) *info = nullptr;
  return DISP_E_BADINDEX;
}

HRESULT ArchiverObject::GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
  if (iid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
  if (names == nullptr || ids == nullptr) return E_INVALIDARG;
  HRESULT hr = S_OK;
  for (UINT i = 0; i < count; ++i) {
    ids[i] = DISPID_UNKNOWN;
    if (i == 0) {
      for (const ArchiveOpInfo& op : kArchiveOps) {
        const auto* name = reinterpret_cast<const wchar_t*>(op.name);
        if (CompareStringOrdinal(names[0], -1, name, -1, TRUE) == CSTR_EQUAL) ids[0] = op.dispid;
      }
    }
    if (ids[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
  }
  return hr;
}

HRESULT ArchiverObject::Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* params,
                               VARIANT* result, EXCEPINFO* exception, UINT*) {
  if (iid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
  const ArchiveOpInfo* op = FindOp(id);
  if (op == nullptr) return DISP_E_MEMBERNOTFOUND;
  try {
    switch (op->kind) {
      case ArchiveOpKind::Put:
        if (!(flags & DISPATCH_PROPERTYPUT)) return DISP_E_MEMBERNOTFOUND;
        return Put(*op, PutArgument(params));
      case ArchiveOpKind::Get:
        if (!(flags & (DISPATCH_PROPERTYGET | DISPATCH_METHOD))) return DISP_E_MEMBERNOTFOUND;
        if (params != nullptr && params->cArgs != 0) return DISP_E_BADPARAMCOUNT;
        return Get(*op, result);
      case ArchiveOpKind::Method:
        if (!(flags & DISPATCH_METHOD)) return DISP_E_MEMBERNOTFOUND;
        return Call(*op, params);
    }
    return DISP_E_MEMBERNOTFOUND;
  } catch (const std::exception& error) {
    Raise(exception, error.what());
    return DISP_E_EXCEPTION;
  } catch (...) {
    Raise(exception, "unexpected failure");
    return DISP_E_EXCEPTION;
  }
}

HRESULT ArchiverObject::Put(const ArchiveOpInfo& op, const VARIANT* value) {
  if (value == nullptr) return DISP_E_PARAMNOTOPTIONAL;
  unique_variant converted;
  switch (op.op) {
    case ArchiveOp::ArchiveMode:
    case ArchiveOp::OwnerHwnd:
      if (!ValueAs(value, VT_I4, converted)) return DISP_E_TYPEMISMATCH;
      if (op.op == ArchiveOp::ArchiveMode) {
        archiver_.PutArchiveMode(V_I4(converted.get()));
      } else {
        archiver_.PutOwnerHwnd(V_I4(converted.get()));
      }
      return S_OK;
    case ArchiveOp::OptionA:
    case ArchiveOp::OptionB:
      if (!ValueAs(value, VT_BOOL, converted)) return DISP_E_TYPEMISMATCH;
      if (op.op == ArchiveOp::OptionA) {
        archiver_.PutOptionA(V_BOOL(converted.get()) != VARIANT_FALSE);
      } else {
        archiver_.PutOptionB(V_BOOL(converted.get()) != VARIANT_FALSE);
      }
      return S_OK;
    default:
      break;
  }
  if (!ValueAs(value, VT_BSTR, converted)) return DISP_E_TYPEMISMATCH;
  std::u16string text = FromBstr(V_BSTR(converted.get()));
  switch (op.op) {
    case ArchiveOp::PackDir:
      archiver_.PutPackDir(text);
      return S_OK;
    case ArchiveOp::PackArchiveName:
      archiver_.PutPackArchiveName(text);
      return S_OK;
    case ArchiveOp::UnpackDir:
      archiver_.PutUnpackDir(text);
      return S_OK;
    case ArchiveOp::UnpackArchiveName:
      archiver_.PutUnpackArchiveName(text);
      return S_OK;
    default:
      return DISP_E_MEMBERNOTFOUND;
  }
}

HRESULT ArchiverObject::Get(const ArchiveOpInfo& op, VARIANT* result) {
  if (result == nullptr) return S_OK;
  VariantInit(result);
  if (op.op == ArchiveOp::ArchiveError) {
    V_VT(result) = VT_I4;
    V_I4(result) = archiver_.GetArchiveError();
    return S_OK;
  }
  V_BSTR(result) = unique_bstr::From(archiver_.GetArchiveErrorText()).release();
  V_VT(result) = VT_BSTR;
  return S_OK;
}

HRESULT ArchiverObject::Call(const ArchiveOpInfo& op, DISPPARAMS* params) {
  const unsigned wanted = op.op == ArchiveOp::AddPackFile ? 1 : 0;
  const auto args = ArgumentsInOrder(params, wanted, nullptr);
  if (!args) return DISP_E_BADPARAMCOUNT;
  const bool runs = op.op == ArchiveOp::Pack || op.op == ArchiveOp::Unpack;
  if (runs && !Hosted()) throw std::runtime_error("the control has not been sited on a form");
  switch (op.op) {
    case ArchiveOp::BeginPack:
      archiver_.BeginPack();
      return S_OK;
    case ArchiveOp::AddPackFile: {
      unique_variant converted;
      if (!ValueAs((*args)[0], VT_BSTR, converted)) return DISP_E_TYPEMISMATCH;
      std::u16string file = FromBstr(V_BSTR(converted.get()));
      archiver_.AddPackFile(file);
      return S_OK;
    }
    case ArchiveOp::Pack:
      archiver_.Pack();
      Record(kHostPacked);
      return S_OK;
    case ArchiveOp::BeginUnpack:
      archiver_.BeginUnpack();
      return S_OK;
    case ArchiveOp::Unpack:
      archiver_.Unpack();
      Record(kHostUnpacked);
      return S_OK;
    default:
      return DISP_E_MEMBERNOTFOUND;
  }
}

}  // namespace tolvex::win32
