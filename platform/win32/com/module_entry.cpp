// The entry points every in-process server of ours shares: the module's own
// handle at load, and the unload check against its object and lock counts.
#include "com/win32_api.h"

#include "com/module_state.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    tolvex::win32::SetThisModule(instance);
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() {
  return tolvex::win32::ModuleInUse() ? S_FALSE : S_OK;
}
