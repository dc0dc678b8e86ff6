#include "backends/control_site.h"

#include <olectl.h>

#include "com/unique_bstr.h"

namespace tolvex::win32 {
namespace {

void SetBool(VARIANT* value, bool on) {
  V_VT(value) = VT_BOOL;
  V_BOOL(value) = on ? VARIANT_TRUE : VARIANT_FALSE;
}

void SetLong(VARIANT* value, LONG number) {
  V_VT(value) = VT_I4;
  V_I4(value) = number;
}

void SetShort(VARIANT* value, SHORT number) {
  V_VT(value) = VT_I2;
  V_I2(value) = number;
}

void SetText(VARIANT* value, const char16_t* text) {
  V_BSTR(value) = unique_bstr::From(text).release();
  V_VT(value) = VT_BSTR;
}

// System colours as OLE_COLOR: the high bit marks a GetSysColor index.
constexpr LONG kButtonFace = static_cast<LONG>(0x80000000u | COLOR_BTNFACE);
constexpr LONG kButtonText = static_cast<LONG>(0x80000000u | COLOR_BTNTEXT);

}  // namespace

bool AmbientProperty(DISPID id, VARIANT* value) {
  VariantInit(value);
  switch (id) {
    // Running, not being designed: a control that knows no other mode
    // than design time would refuse to work.
    case DISPID_AMBIENT_USERMODE:
      SetBool(value, true);
      return true;
    case DISPID_AMBIENT_UIDEAD:
    case DISPID_AMBIENT_SHOWGRABHANDLES:
    case DISPID_AMBIENT_SHOWHATCHING:
    case DISPID_AMBIENT_DISPLAYASDEFAULT:
    case DISPID_AMBIENT_SUPPORTSMNEMONICS:
    // There is no window to reflect the control's notifications from.
    case DISPID_AMBIENT_MESSAGEREFLECT:
      SetBool(value, false);
      return true;
    case DISPID_AMBIENT_AUTOCLIP:
      SetBool(value, true);
      return true;
    case DISPID_AMBIENT_LOCALEID:
      SetLong(value, static_cast<LONG>(GetUserDefaultLCID()));
      return true;
    case DISPID_AMBIENT_CODEPAGE:
      SetLong(value, static_cast<LONG>(GetACP()));
      return true;
    case DISPID_AMBIENT_BACKCOLOR:
      SetLong(value, kButtonFace);
      return true;
    case DISPID_AMBIENT_FORECOLOR:
      SetLong(value, kButtonText);
      return true;
    case DISPID_AMBIENT_APPEARANCE:
      SetShort(value, 1);  // 3D
      return true;
    case DISPID_AMBIENT_TEXTALIGN:
      SetShort(value, 0);  // general
      return true;
    case DISPID_AMBIENT_DISPLAYNAME:
      SetText(value, u"objTrans");
      return true;
    case DISPID_AMBIENT_SCALEUNITS:
      SetText(value, u"Twip");
      return true;
    default:
      return false;
  }
}

HRESULT ControlSite::QueryInterface(REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  if (iid == IID_IUnknown || iid == IID_IOleClientSite) {
    *out = static_cast<IOleClientSite*>(this);
  } else if (iid == IID_IDispatch) {
    *out = static_cast<IDispatch*>(this);
  } else {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

HRESULT ControlSite::GetMoniker(DWORD, DWORD, IMoniker** moniker) {
  if (moniker != nullptr) *moniker = nullptr;
  return E_NOTIMPL;
}

HRESULT ControlSite::GetContainer(IOleContainer** container) {
  if (container != nullptr) *container = nullptr;
  return E_NOINTERFACE;
}

HRESULT ControlSite::GetTypeInfoCount(UINT* count) {
  if (count == nullptr) return E_POINTER;
  *count = 0;
  return S_OK;
}

HRESULT ControlSite::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
  if (info != nullptr) *info = nullptr;
  return DISP_E_BADINDEX;
}

HRESULT ControlSite::GetIDsOfNames(REFIID, LPOLESTR*, UINT count, LCID, DISPID* ids) {
  for (UINT i = 0; ids != nullptr && i < count; ++i) ids[i] = DISPID_UNKNOWN;
  return DISP_E_UNKNOWNNAME;
}

HRESULT ControlSite::Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS*, VARIANT* result,
                            EXCEPINFO*, UINT*) {
  if (iid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
  if (!(flags & (DISPATCH_PROPERTYGET | DISPATCH_METHOD))) return DISP_E_MEMBERNOTFOUND;
  VARIANT value;
  try {
    if (!AmbientProperty(id, &value)) return DISP_E_MEMBERNOTFOUND;
  } catch (...) {
    return E_OUTOFMEMORY;
  }
  if (result != nullptr) {
    *result = value;
  } else {
    VariantClear(&value);
  }
  return S_OK;
}

}  // namespace tolvex::win32
