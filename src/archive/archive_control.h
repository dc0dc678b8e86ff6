// The archive control the jobs drive (objTrans on the transfer dialog).
// The jobs call exactly these operations, in a fixed order; any of them may
// raise ArchiveCallError (the call itself failed), while the control's own
// packing or unpacking failures are reported through ArchiveError and
// ArchiveErrorText.
//
// Thread contract: the thread that made the control, the dialog's. A
// control whose RunsOnAnyThread() is true also has its Pack or Unpack run on
// the archive step's worker while nothing else calls it.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace tolvex {

struct ArchiveCallError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

class ArchiveControl {
 public:
  virtual ~ArchiveControl() = default;

  virtual void PutArchiveMode(std::int32_t mode) = 0;
  virtual void PutOwnerHwnd(std::int32_t hwnd) = 0;
  virtual void PutOptionA(bool value) = 0;
  virtual void PutOptionB(bool value) = 0;
  virtual void PutPackDir(std::u16string& dir) = 0;
  virtual void PutPackArchiveName(const std::u16string& name) = 0;
  virtual void PutUnpackDir(std::u16string& dir) = 0;
  virtual void PutUnpackArchiveName(const std::u16string& name) = 0;
  virtual void BeginPack() = 0;
  virtual void AddPackFile(std::u16string& file) = 0;
  virtual void Pack() = 0;
  virtual void BeginUnpack() = 0;
  virtual void Unpack() = 0;
  virtual std::int32_t GetArchiveError() = 0;
  virtual std::u16string GetArchiveErrorText() = 0;

  // Whether Pack and Unpack may run on another thread than the one that
  // made the control, while nothing else calls it. Not the third-party
  // control, which lives on the dialog's thread.
  virtual bool RunsOnAnyThread() const { return false; }
};

enum class ArchiveOpKind { Put, Get, Method };

enum class ArchiveOp {
  ArchiveMode,
  OwnerHwnd,
  OptionA,
  OptionB,
  PackDir,
  PackArchiveName,
  UnpackDir,
  UnpackArchiveName,
  BeginPack,
  AddPackFile,
  Pack,
  BeginUnpack,
  Unpack,
  ArchiveError,
  ArchiveErrorText,
};

struct ArchiveOpInfo {
  ArchiveOp op;
  const char16_t* name;
  std::int32_t dispid;
  ArchiveOpKind kind;
};

// The dispatch ids of the control. The Windows late-bound caller and the
// stand-in control server both take their numbers from this one table.
inline constexpr ArchiveOpInfo kArchiveOps[] = {
    {ArchiveOp::ArchiveMode, u"ArchiveMode", 0x6803002B, ArchiveOpKind::Put},
    {ArchiveOp::OwnerHwnd, u"OwnerHwnd", 0x6803002C, ArchiveOpKind::Put},
    {ArchiveOp::OptionA, u"OptionA", 0x68030017, ArchiveOpKind::Put},
    {ArchiveOp::OptionB, u"OptionB", 0x68030016, ArchiveOpKind::Put},
    {ArchiveOp::PackDir, u"PackDir", 0x6803000C, ArchiveOpKind::Put},
    {ArchiveOp::PackArchiveName, u"PackArchiveName", 0x6803002A, ArchiveOpKind::Put},
    {ArchiveOp::UnpackDir, u"UnpackDir", 0x68030025, ArchiveOpKind::Put},
    {ArchiveOp::UnpackArchiveName, u"UnpackArchiveName", 0x68030029, ArchiveOpKind::Put},
    {ArchiveOp::BeginPack, u"BeginPack", 0x60030039, ArchiveOpKind::Method},
    {ArchiveOp::AddPackFile, u"AddPackFile", 0x6003003A, ArchiveOpKind::Method},
    {ArchiveOp::Pack, u"Pack", 0x6003003D, ArchiveOpKind::Method},
    {ArchiveOp::BeginUnpack, u"BeginUnpack", 0x6003003B, ArchiveOpKind::Method},
    {ArchiveOp::Unpack, u"Unpack", 0x6003003E, ArchiveOpKind::Method},
    {ArchiveOp::ArchiveError, u"ArchiveError", 0x6803002E, ArchiveOpKind::Get},
    {ArchiveOp::ArchiveErrorText, u"ArchiveErrorText", 0x6803002D, ArchiveOpKind::Get},
};

inline constexpr const ArchiveOpInfo& ArchiveOpDetails(ArchiveOp op) {
  return kArchiveOps[static_cast<int>(op)];
}

}  // namespace tolvex
