// Which DLL a call runs in, for the trace's first line: when several
// copies are installed (per user and per machine, x86 and x64), this is
// what tells support which one a program actually loaded.
#pragma once

#include <string>

namespace tolvex::win32 {

// "Tolvex.dll 1.00.0001 (file version 1.0.0.1), 32-bit on 64-bit Windows,
// C:\...\Tolvex.dll, in C:\...\EXCEL.EXE", in UTF-8: the DLL's name,
// version and path, its bitness and the host program.
std::string LoadedModuleDescription();

}  // namespace tolvex::win32
