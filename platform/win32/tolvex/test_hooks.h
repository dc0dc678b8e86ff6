// Timing overrides for the Wine tests that drive the real window. Only the
// test build TolvexTestHooks.dll (compiled with TOLVEX_TEST_HOOKS) reads
// them from its environment; the shipped Tolvex.dll has no way to set them,
// as the component takes no configuration.
#pragma once

#include <cstdint>

namespace tolvex::win32 {

struct TestHooks {
  // TOLVEX_START_HOLD_MS: the job starts no sooner than this after the
  // dialog appears, so a test can press Cancel before it.
  std::uint32_t start_hold_ms = 0;
  // TOLVEX_RESPONSE_PERIOD_MS: the response timer's period; 0 keeps the
  // form's own.
  std::uint32_t response_period_ms = 0;
};

// All zero in the shipped DLL.
TestHooks ReadTestHooks();

}  // namespace tolvex::win32
