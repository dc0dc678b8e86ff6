// The stand-in archive control: our zip archiver behind a dispatch
// interface that answers the control's dispatch ids and names, for
// machines without the third-party control. A failing operation raises an
// automation exception, as the control's own errors reach a caller.
#pragma once

#include "com/win32_api.h"

#include <oaidl.h>

#include "archive/zip_archiver.h"
#include "backends/win32_file_system.h"
#include "com/com_object.h"

namespace tolvex::win32 {

// {01360216-3193-439A-AA8C-F2A96DD48E64}
inline constexpr CLSID kArchiverClsid = {
    0x01360216, 0x3193, 0x439A, {0xAA, 0x8C, 0xF2, 0xA9, 0x6D, 0xD4, 0x8E, 0x64}};

class ArchiverObject final : public IDispatch, private RefCounted<ArchiverObject> {
  friend RefCounted<ArchiverObject>;

 public:
  ArchiverObject();

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

 private:
  HRESULT Put(const ArchiveOpInfo& op, const VARIANT* value);
  HRESULT Get(const ArchiveOpInfo& op, VARIANT* result);
  HRESULT Call(const ArchiveOpInfo& op, DISPPARAMS* params);

  Win32FileSystem files_;
  ZipArchiver archiver_;
};

}  // namespace tolvex::win32
