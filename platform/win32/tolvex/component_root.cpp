#include "com/win32_api.h"

#include "tolvex/component_root.h"

#include <cwchar>

#include "com/module_state.h"
#include "component/job_state.h"

namespace tolvex::win32 {

ComponentRoot& ComponentRoot::Instance() {
  static ComponentRoot root;
  return root;
}

namespace {

// TOLVEX_START_HOLD_MS holds the job back after the dialog has appeared,
// for the test that presses Cancel on the real window; unset in normal use.
std::uint32_t StartHoldFromEnvironment() {
  wchar_t text[16] = {};
  const DWORD length = GetEnvironmentVariableW(L"TOLVEX_START_HOLD_MS", text, 16);
  if (length == 0 || length >= 16) return 0;
  return static_cast<std::uint32_t>(std::wcstoul(text, nullptr, 10));
}

}  // namespace

ComponentRoot::ComponentRoot()
    : window_(ThisModule(), pointer_, StartHoldFromEnvironment()),
      dialog_(window_, archive_, TransferDialog::Parts{basTolvex(), InetConnect(), http_, files_}) {
}

TolvexServices ComponentRoot::Services() {
  return TolvexServices{basTolvex(), dialog_, pointer_, files_};
}

}  // namespace tolvex::win32
