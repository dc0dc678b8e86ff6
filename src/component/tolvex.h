// Class Tolvex: the component's public surface. Each call checks its
// arguments, hands the job to the transfer dialog through the shared job
// state and returns the outcome as a result code, with its text left in
// ErrorMsg. No error ever leaves a call.
#pragma once

#include <cstdint>
#include <string>

#include "component/file_system.h"
#include "component/job_state.h"
#include "component/path_style.h"
#include "component/ports.h"
#include "component/trace.h"
#include "component/variant.h"

namespace tolvex {

struct TolvexServices {
  JobState& state;
  ModalDialog& dialog;
  MousePointer& pointer;
  FileSystem& files;
  Trace* trace = nullptr;  // none: causes are kept for nobody
  PathStyle paths = kNativePathStyle;
};

class Tolvex {
 public:
  explicit Tolvex(TolvexServices services) : services_(services) {}

  std::int16_t RecvSO(const std::u16string& url, const std::u16string& key,
                      const std::u16string& code, const Variant& file);
  std::int16_t SendProgress(const std::u16string& url, const std::u16string& key,
                            const std::u16string& code, const Variant& file);

  std::u16string ErrorMsg;

 private:
  std::int16_t Run(std::int16_t mode, const std::u16string& url, const std::u16string& key,
                   const std::u16string& code, const Variant& file);
  std::int16_t Fail(TransferJob& job, std::int16_t code, std::string detail = {});
  Trace& trace() { return services_.trace != nullptr ? *services_.trace : DiscardingTrace(); }

  TolvexServices services_;
};

}  // namespace tolvex
