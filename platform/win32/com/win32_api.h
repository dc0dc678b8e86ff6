// <windows.h> for this project's files: the ANSI/wide macros named like
// the file-system port's members would rename those members in whichever
// file happens to see them, so they are dropped here; Win32 calls spell
// the wide entry points out.
#pragma once

#include <windows.h>

#undef CreateDirectory
#undef DeleteFile
