#include "tolvex/test_hooks.h"

#ifdef TOLVEX_TEST_HOOKS
#include "com/win32_api.h"

#include <cwchar>
#endif

namespace tolvex::win32 {

#ifdef TOLVEX_TEST_HOOKS

namespace {

std::uint32_t MillisecondsFromEnvironment(const wchar_t* name) {
  wchar_t text[16] = {};
  const DWORD length = GetEnvironmentVariableW(name, text, 16);
  if (length == 0 || length >= 16) return 0;
  return static_cast<std::uint32_t>(std::wcstoul(text, nullptr, 10));
}

}  // namespace

TestHooks ReadTestHooks() {
  TestHooks hooks;
  hooks.start_hold_ms = MillisecondsFromEnvironment(L"TOLVEX_START_HOLD_MS");
  hooks.response_period_ms = MillisecondsFromEnvironment(L"TOLVEX_RESPONSE_PERIOD_MS");
  return hooks;
}

#else

TestHooks ReadTestHooks() { return TestHooks{}; }

#endif

}  // namespace tolvex::win32
