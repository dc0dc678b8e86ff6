// Bookkeeping of a loaded in-process server: its module handle and the
// counts DllCanUnloadNow answers from. Each DLL links its own copy.
#pragma once

#include "com/win32_api.h"

#include <string>

namespace tolvex::win32 {

void SetThisModule(HMODULE module);
HMODULE ThisModule();
// Full path of the DLL, as registration records it.
std::wstring ThisModulePath();

// Every live COM object (class factories included) counts once.
void ObjectCreated();
void ObjectDestroyed();
void LockModule(bool lock);
bool ModuleInUse();

// Counts the enclosing object for as long as it lives.
class ModuleObjectCount {
 public:
  ModuleObjectCount() { ObjectCreated(); }
  ModuleObjectCount(const ModuleObjectCount&) = delete;
  ModuleObjectCount& operator=(const ModuleObjectCount&) = delete;
  ~ModuleObjectCount() { ObjectDestroyed(); }
};

}  // namespace tolvex::win32
