#include "com/module_state.h"

#include <atomic>
#include <vector>

namespace tolvex::win32 {
namespace {

HMODULE g_module = nullptr;
std::atomic<long> g_objects{0};
std::atomic<long> g_locks{0};

}  // namespace

void SetThisModule(HMODULE module) { g_module = module; }
HMODULE ThisModule() { return g_module; }

std::wstring ThisModulePath() {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD length =
        GetModuleFileNameW(g_module, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return std::wstring();
    if (length < buffer.size()) return std::wstring(buffer.data(), length);
    buffer.resize(buffer.size() * 2);
  }
}

void ObjectCreated() { ++g_objects; }
void ObjectDestroyed() { --g_objects; }
void LockModule(bool lock) { lock ? ++g_locks : --g_locks; }
bool ModuleInUse() { return g_objects.load() > 0 || g_locks.load() > 0; }

}  // namespace tolvex::win32
