// The stand-in archive control: our zip archiver behind a dispatch
// interface that answers the control's dispatch ids and names, for
// machines without the third-party control. A failing operation raises an
// automation exception, as the control's own errors reach a caller.
//
// Two more classes are the same archiver as a control that expects to sit
// on a form: it packs and unpacks only once its container has initialised
// it (InitNew, through IPersistStreamInit or, in the second of them,
// IPersistPropertyBag, the only persistence it offers) and sited it with
// UserMode TRUE, and it records what its container did, so a host can be
// checked against it.
#pragma once

#include "com/win32_api.h"

#include <oaidl.h>
#include <ocidl.h>
#include <oleidl.h>

#include "archive/zip_archiver.h"
#include "backends/win32_file_system.h"
#include "com/com_object.h"
#include "com/com_ptr.h"

namespace tolvex::win32 {

// {01360216-3193-439A-AA8C-F2A96DD48E64}
inline constexpr CLSID kArchiverClsid = {
    0x01360216, 0x3193, 0x439A, {0xAA, 0x8C, 0xF2, 0xA9, 0x6D, 0xD4, 0x8E, 0x64}};

// {2F1C7C55-8E0B-4B8E-9D0A-6B3E5F4A1C27}: the class that needs a container.
inline constexpr CLSID kContainedArchiverClsid = {
    0x2F1C7C55, 0x8E0B, 0x4B8E, {0x9D, 0x0A, 0x6B, 0x3E, 0x5F, 0x4A, 0x1C, 0x27}};

// {2F1C7C56-8E0B-4B8E-9D0A-6B3E5F4A1C27}: the same, initialised from a
// property bag.
inline constexpr CLSID kBagArchiverClsid = {
    0x2F1C7C56, 0x8E0B, 0x4B8E, {0x9D, 0x0A, 0x6B, 0x3E, 0x5F, 0x4A, 0x1C, 0x27}};

enum class ArchiverMode { Plain, NeedsContainer, NeedsContainerBag };

// What the container did to the last object of a class that needs one, as
// bits; TolvexArchiverHosting() returns them.
enum HostingRecord : DWORD {
  kHostCreated = 1,
  kHostInitialised = 2,     // InitNew
  kHostSited = 4,           // SetClientSite with a site
  kHostUserMode = 8,        // the site's ambient UserMode was TRUE
  kHostClosed = 16,         // Close
  kHostUnsited = 32,        // SetClientSite(nullptr) after Close
  kHostReleasedSited = 64,  // the last release came with the site still set
  kHostRefused = 128,       // a pack or unpack without a container
  kHostPacked = 256,
  kHostUnpacked = 512,
};
DWORD LastHosting();

class ArchiverObject final : public IDispatch,
                             public IOleObject,
                             public IPersistStreamInit,
                             public IPersistPropertyBag,
                             private RefCounted<ArchiverObject> {
  friend RefCounted<ArchiverObject>;

 public:
  explicit ArchiverObject(ArchiverMode mode = ArchiverMode::Plain);
  ~ArchiverObject();
  ArchiverObject(const ArchiverObject&) = delete;
  ArchiverObject& operator=(const ArchiverObject&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return AddRefCount(); }
  ULONG STDMETHODCALLTYPE Release() override { return ReleaseCount(); }

  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale,
                                          DISPID* ids) override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID locale, WORD flags,
                                   DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                                   UINT* bad_argument) override;

  // IOleObject, offered only by the classes that need a container.
  HRESULT STDMETHODCALLTYPE SetClientSite(IOleClientSite* site) override;
  HRESULT STDMETHODCALLTYPE GetClientSite(IOleClientSite** site) override;
  HRESULT STDMETHODCALLTYPE SetHostNames(LPCOLESTR, LPCOLESTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE Close(DWORD save_option) override;
  HRESULT STDMETHODCALLTYPE SetMoniker(DWORD, IMoniker*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetMoniker(DWORD, DWORD, IMoniker** moniker) override;
  HRESULT STDMETHODCALLTYPE InitFromData(IDataObject*, BOOL, DWORD) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetClipboardData(DWORD, IDataObject** data) override;
  HRESULT STDMETHODCALLTYPE DoVerb(LONG, LPMSG, IOleClientSite*, LONG, HWND, LPCRECT) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE EnumVerbs(IEnumOLEVERB** verbs) override;
  HRESULT STDMETHODCALLTYPE Update() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE IsUpToDate() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetUserClassID(CLSID* clsid) override { return GetClassID(clsid); }
  HRESULT STDMETHODCALLTYPE GetUserType(DWORD, LPOLESTR* name) override;
  HRESULT STDMETHODCALLTYPE SetExtent(DWORD, SIZEL*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetExtent(DWORD, SIZEL*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Advise(IAdviseSink*, DWORD* connection) override;
  HRESULT STDMETHODCALLTYPE Unadvise(DWORD) override { return OLE_E_NOCONNECTION; }
  HRESULT STDMETHODCALLTYPE EnumAdvise(IEnumSTATDATA** advise) override;
  HRESULT STDMETHODCALLTYPE GetMiscStatus(DWORD aspect, DWORD* status) override;
  HRESULT STDMETHODCALLTYPE SetColorScheme(LOGPALETTE*) override { return E_NOTIMPL; }

  // IPersistStreamInit and IPersistPropertyBag: nothing is persisted;
  // InitNew (one for both) is what counts.
  HRESULT STDMETHODCALLTYPE GetClassID(CLSID* clsid) override;
  HRESULT STDMETHODCALLTYPE Load(IPropertyBag*, IErrorLog*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Save(IPropertyBag*, BOOL, BOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE IsDirty() override { return S_FALSE; }
  HRESULT STDMETHODCALLTYPE Load(LPSTREAM) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Save(LPSTREAM, BOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetSizeMax(ULARGE_INTEGER*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE InitNew() override;

 private:
  HRESULT Put(const ArchiveOpInfo& op, const VARIANT* value);
  HRESULT Get(const ArchiveOpInfo& op, VARIANT* result);
  HRESULT Call(const ArchiveOpInfo& op, DISPPARAMS* params);
  // False, with the refusal recorded, when this control needs a container
  // and has not been given one.
  bool Hosted();
  void Record(DWORD what);

  ArchiverMode mode_;
  com_ptr<IOleClientSite> site_;
  bool initialised_ = false;
  bool user_mode_ = false;
  bool closed_ = false;
  Win32FileSystem files_;
  ZipArchiver archiver_;
};

}  // namespace tolvex::win32
