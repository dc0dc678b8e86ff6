// objTrans: the archive control driven late bound, through
// IDispatch::Invoke by dispatch id, on the object the ProgID names. The
// object is made when the dialog is shown and let go when it closes; while
// there is none (the ProgID is not registered), every operation raises.
// It is hosted as a form hosts a control: initialised to its defaults
// (IPersistStreamInit or IPersistPropertyBag), given a client site that
// answers the ambient properties, and closed and unsited before it is let
// go; a control without those interfaces is used as it is.
//
// Thread contract: the apartment thread that made it, the dialog's, alone:
// the control is an object of that apartment.
#pragma once

#include "com/win32_api.h"

#include <oaidl.h>
#include <oleidl.h>

#include <string>

#include "archive/archive_control.h"
#include "com/com_ptr.h"
#include "com/unique_variant.h"

namespace tolvex::win32 {

inline constexpr wchar_t kArchiveControlProgId[] = L"MarloxO.Marlox";

class LateBoundArchiveControl final : public ArchiveControl {
 public:
  explicit LateBoundArchiveControl(std::wstring progid = kArchiveControlProgId);

  // Makes and hosts the control; a failure is remembered and raised by
  // the first operation, as a missing control on a form would be.
  void Create() noexcept;
  void Destroy() noexcept;

  // After Create: whether the control was made and hosted; if so, the class
  // the ProgID named, and if not, the step that failed and its HRESULT.
  bool Created() const { return control_.get() != nullptr; }
  std::string CreatedClass() const;
  std::string CreateFailure() const;
  const std::wstring& progid() const { return progid_; }

  void PutArchiveMode(std::int32_t mode) override;
  void PutOwnerHwnd(std::int32_t hwnd) override;
  void PutOptionA(bool value) override;
  void PutOptionB(bool value) override;
  void PutPackDir(std::u16string& dir) override;
  void PutPackArchiveName(const std::u16string& name) override;
  void PutUnpackDir(std::u16string& dir) override;
  void PutUnpackArchiveName(const std::u16string& name) override;
  void BeginPack() override;
  void AddPackFile(std::u16string& file) override;
  void Pack() override;
  void BeginUnpack() override;
  void Unpack() override;
  std::int32_t GetArchiveError() override;
  std::u16string GetArchiveErrorText() override;

 private:
  void PutLong(ArchiveOp op, std::int32_t value);
  void PutBoolean(ArchiveOp op, bool value);
  void PutString(ArchiveOp op, const std::u16string& value);
  void PutStringByRef(ArchiveOp op, std::u16string& value);
  void CallWithStringByRef(ArchiveOp op, std::u16string& value);
  void Call(ArchiveOp op);
  void Get(ArchiveOp op, VARTYPE as, unique_variant& result);
  void Invoke(ArchiveOp op, WORD flags, VARIANT* argument, VARIANT* result);
  HRESULT Site() noexcept;
  void SetSite() noexcept;

  std::wstring progid_;
  CLSID clsid_{};
  const char* failed_step_ = "Create";
  com_ptr<IDispatch> control_;
  com_ptr<IOleObject> ole_;
  bool sited_ = false;
  HRESULT create_result_ = E_UNEXPECTED;
};

}  // namespace tolvex::win32
