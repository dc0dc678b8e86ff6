#include "tolvex/component_root.h"

#include "com/module_state.h"
#include "component/job_state.h"

namespace tolvex::win32 {

ComponentRoot& ComponentRoot::Instance() {
  static ComponentRoot root;
  return root;
}

ComponentRoot::ComponentRoot()
    : window_(ThisModule(), pointer_),
      dialog_(window_, archive_, TransferDialog::Parts{basTolvex(), InetConnect(), http_, files_}) {
}

TolvexServices ComponentRoot::Services() {
  return TolvexServices{basTolvex(), dialog_, pointer_, files_};
}

}  // namespace tolvex::win32
