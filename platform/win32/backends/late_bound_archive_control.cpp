#include "backends/late_bound_archive_control.h"

#include <objbase.h>
#include <ocidl.h>
#include <oleidl.h>

#include <cstdio>
#include <string>

#include "backends/control_site.h"
#include "com/unique_bstr.h"
#include "com/wide_string.h"
#include "component/text.h"

namespace tolvex::win32 {
namespace {

std::string Describe(ArchiveOp op, HRESULT hr, const EXCEPINFO* info = nullptr) {
  char code[16];
  std::snprintf(code, sizeof(code), "0x%08lX", static_cast<unsigned long>(hr));
  std::string text = ToUtf8(ArchiveOpDetails(op).name) + " failed: " + code;
  if (info != nullptr && info->bstrDescription != nullptr) {
    text += " (" + ToUtf8(FromBstr(info->bstrDescription)) + ")";
  }
  return text;
}

class ExceptionInfo {
 public:
  ExceptionInfo() = default;
  ExceptionInfo(const ExceptionInfo&) = delete;
  ExceptionInfo& operator=(const ExceptionInfo&) = delete;
  ~ExceptionInfo() {
    SysFreeString(info_.bstrSource);
    SysFreeString(info_.bstrDescription);
    SysFreeString(info_.bstrHelpFile);
  }
  EXCEPINFO* get() { return &info_; }

 private:
  EXCEPINFO info_{};
};

}  // namespace

LateBoundArchiveControl::LateBoundArchiveControl(std::wstring progid)
    : progid_(std::move(progid)) {}

void LateBoundArchiveControl::Create() noexcept {
  Destroy();
  clsid_ = CLSID{};
  failed_step_ = "CLSIDFromProgID";
  create_result_ = CLSIDFromProgID(progid_.c_str(), &clsid_);
  if (FAILED(create_result_)) return;
  failed_step_ = "CoCreateInstance";
  create_result_ = CoCreateInstance(clsid_, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                                    IID_IDispatch, control_.put_void());
  if (FAILED(create_result_)) return;
  failed_step_ = "InitNew";
  const HRESULT hosted = Site();
  if (FAILED(hosted)) {
    Destroy();
    create_result_ = hosted;
  }
}

std::string LateBoundArchiveControl::CreatedClass() const {
  wchar_t text[40] = {};
  StringFromGUID2(clsid_, text, 40);
  return ToUtf8(FromWide(text));
}

std::string LateBoundArchiveControl::CreateFailure() const {
  char code[16];
  std::snprintf(code, sizeof(code), "0x%08lX", static_cast<unsigned long>(create_result_));
  std::string text = std::string(failed_step_) + " failed: " + code;
  // The two a machine without the control, or with it for the other
  // architecture only, gives.
  if (create_result_ == CO_E_CLASSSTRING) text += ", the ProgID is not registered";
  // Windows answers a class of the other view with REGDB_E_CLASSNOTREG,
  // Wine with REGDB_E_KEYMISSING.
  if (create_result_ == REGDB_E_CLASSNOTREG || create_result_ == REGDB_E_KEYMISSING) {
    text += ", its class is not registered for this process's architecture";
  }
  return text;
}

HRESULT LateBoundArchiveControl::Site() noexcept {
  // Each step is taken only when the control has the interface for it; a
  // control with none of them is driven as it is.
  control_->QueryInterface(IID_IOleObject, ole_.put_void());
  DWORD misc = 0;
  if (ole_) ole_->GetMiscStatus(DVASPECT_CONTENT, &misc);
  const bool site_first = (misc & OLEMISC_SETCLIENTSITEFIRST) != 0;
  if (ole_ && site_first) SetSite();

  // A control on a form starts from its property defaults.
  HRESULT initialised = E_NOINTERFACE;
  com_ptr<IPersistStreamInit> stream;
  com_ptr<IPersistPropertyBag> bag;
  if (SUCCEEDED(control_->QueryInterface(IID_IPersistStreamInit, stream.put_void()))) {
    initialised = stream->InitNew();
  } else if (SUCCEEDED(control_->QueryInterface(IID_IPersistPropertyBag, bag.put_void()))) {
    initialised = bag->InitNew();
  }
  // E_NOTIMPL: nothing to initialise. Any other failure is the control
  // refusing to load, as it would refuse on a form.
  if (FAILED(initialised) && initialised != E_NOINTERFACE && initialised != E_NOTIMPL) {
    return initialised;
  }

  if (ole_ && !site_first) SetSite();
  return S_OK;
}

void LateBoundArchiveControl::SetSite() noexcept {
  com_ptr<IOleClientSite> site;
  if (FAILED(MakeComObject<ControlSite>(IID_IOleClientSite, site.put_void()))) return;
  if (SUCCEEDED(ole_->SetClientSite(site.get()))) sited_ = true;
}

void LateBoundArchiveControl::Destroy() noexcept {
  if (ole_) {
    // Close while the site is still there: a control may call back into
    // it while closing.
    ole_->Close(OLECLOSE_NOSAVE);
    if (sited_) ole_->SetClientSite(nullptr);
  }
  sited_ = false;
  ole_.reset();
  control_.reset();
  create_result_ = E_UNEXPECTED;
}

void LateBoundArchiveControl::Invoke(ArchiveOp op, WORD flags, VARIANT* argument, VARIANT* result) {
  if (!control_) {
    throw ArchiveCallError(ToUtf8(FromWide(progid_)) +
                           " is not available: " + Describe(op, create_result_));
  }
  DISPID put_name = DISPID_PROPERTYPUT;
  DISPPARAMS params{};
  if (argument != nullptr) {
    params.rgvarg = argument;
    params.cArgs = 1;
  }
  if (flags == DISPATCH_PROPERTYPUT) {
    params.rgdispidNamedArgs = &put_name;
    params.cNamedArgs = 1;
  }
  ExceptionInfo exception;
  UINT bad_argument = 0;
  const HRESULT hr = control_->Invoke(ArchiveOpDetails(op).dispid, IID_NULL, LOCALE_USER_DEFAULT,
                                      flags, &params, result, exception.get(), &bad_argument);
  if (FAILED(hr)) throw ArchiveCallError(Describe(op, hr, exception.get()));
}

void LateBoundArchiveControl::PutLong(ArchiveOp op, std::int32_t value) {
  unique_variant argument;
  V_VT(argument.get()) = VT_I4;
  V_I4(argument.get()) = value;
  Invoke(op, DISPATCH_PROPERTYPUT, argument.get(), nullptr);
}

void LateBoundArchiveControl::PutBoolean(ArchiveOp op, bool value) {
  unique_variant argument;
  V_VT(argument.get()) = VT_BOOL;
  V_BOOL(argument.get()) = value ? VARIANT_TRUE : VARIANT_FALSE;
  Invoke(op, DISPATCH_PROPERTYPUT, argument.get(), nullptr);
}

void LateBoundArchiveControl::PutString(ArchiveOp op, const std::u16string& value) {
  unique_variant argument;
  V_VT(argument.get()) = VT_BSTR;
  V_BSTR(argument.get()) = unique_bstr::From(value).release();
  Invoke(op, DISPATCH_PROPERTYPUT, argument.get(), nullptr);
}

void LateBoundArchiveControl::PutStringByRef(ArchiveOp op, std::u16string& value) {
  unique_bstr text = unique_bstr::From(value);
  VARIANT argument;
  VariantInit(&argument);
  V_VT(&argument) = VT_BYREF | VT_BSTR;
  V_BSTRREF(&argument) = text.address();
  Invoke(op, DISPATCH_PROPERTYPUT, &argument, nullptr);
  // The callee may replace a string it got by reference, as on a variable.
  value = FromBstr(text.get());
}

void LateBoundArchiveControl::CallWithStringByRef(ArchiveOp op, std::u16string& value) {
  unique_bstr text = unique_bstr::From(value);
  VARIANT argument;
  VariantInit(&argument);
  V_VT(&argument) = VT_BYREF | VT_BSTR;
  V_BSTRREF(&argument) = text.address();
  unique_variant ignored;
  Invoke(op, DISPATCH_METHOD, &argument, ignored.get());
  value = FromBstr(text.get());
}

void LateBoundArchiveControl::Call(ArchiveOp op) {
  unique_variant ignored;
  Invoke(op, DISPATCH_METHOD, nullptr, ignored.get());
}

void LateBoundArchiveControl::Get(ArchiveOp op, VARTYPE as, unique_variant& result) {
  unique_variant raw;
  Invoke(op, DISPATCH_PROPERTYGET, nullptr, raw.get());
  const HRESULT hr = VariantChangeType(result.get(), raw.get(), 0, as);
  if (FAILED(hr)) throw ArchiveCallError(Describe(op, hr));
}

void LateBoundArchiveControl::PutArchiveMode(std::int32_t mode) {
  PutLong(ArchiveOp::ArchiveMode, mode);
}
void LateBoundArchiveControl::PutOwnerHwnd(std::int32_t hwnd) {
  PutLong(ArchiveOp::OwnerHwnd, hwnd);
}
void LateBoundArchiveControl::PutOptionA(bool value) { PutBoolean(ArchiveOp::OptionA, value); }
void LateBoundArchiveControl::PutOptionB(bool value) { PutBoolean(ArchiveOp::OptionB, value); }
void LateBoundArchiveControl::PutPackDir(std::u16string& dir) {
  PutStringByRef(ArchiveOp::PackDir, dir);
}
void LateBoundArchiveControl::PutPackArchiveName(const std::u16string& name) {
  PutString(ArchiveOp::PackArchiveName, name);
}
void LateBoundArchiveControl::PutUnpackDir(std::u16string& dir) {
  PutStringByRef(ArchiveOp::UnpackDir, dir);
}
void LateBoundArchiveControl::PutUnpackArchiveName(const std::u16string& name) {
  PutString(ArchiveOp::UnpackArchiveName, name);
}
void LateBoundArchiveControl::BeginPack() { Call(ArchiveOp::BeginPack); }
void LateBoundArchiveControl::AddPackFile(std::u16string& file) {
  CallWithStringByRef(ArchiveOp::AddPackFile, file);
}
void LateBoundArchiveControl::Pack() { Call(ArchiveOp::Pack); }
void LateBoundArchiveControl::BeginUnpack() { Call(ArchiveOp::BeginUnpack); }
void LateBoundArchiveControl::Unpack() { Call(ArchiveOp::Unpack); }

std::int32_t LateBoundArchiveControl::GetArchiveError() {
  unique_variant value;
  Get(ArchiveOp::ArchiveError, VT_I4, value);
  return V_I4(value.get());
}

std::u16string LateBoundArchiveControl::GetArchiveErrorText() {
  unique_variant value;
  Get(ArchiveOp::ArchiveErrorText, VT_BSTR, value);
  return FromBstr(V_BSTR(value.get()));
}

}  // namespace tolvex::win32
