#include "com/win32_api.h"

#include "tolvex/component_root.h"

#include "com/module_state.h"
#include "component/job_state.h"

namespace tolvex::win32 {

ComponentRoot& ComponentRoot::Instance() {
  static ComponentRoot root;
  return root;
}

ComponentRoot::ComponentRoot()
    : hooks_(ReadTestHooks()),
      http_(trace_),
      window_(ThisModule(), pointer_, hooks_.start_hold_ms),
      dialog_(window_, archive_,
              TransferDialog::Parts{basTolvex(), InetConnect(), http_, files_, &trace_},
              hooks_.response_period_ms) {}

TolvexServices ComponentRoot::Services() {
  return TolvexServices{basTolvex(), dialog_, pointer_, files_, &trace_};
}

}  // namespace tolvex::win32
