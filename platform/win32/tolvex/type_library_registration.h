// The TolvexPro type library's registration, for all users or for the
// current user, under the library's own locale and under locale 0. The
// version key TypeLib\{libid}\1.0 is shared by both architectures (each
// has its own win32 or win64 key below each locale), so it goes only with
// the last architecture of ours.
#pragma once

#include "com/win32_api.h"

#include <oaidl.h>

#include "com/registry.h"

namespace tolvex::win32 {

struct TypeLibraryIdentity {
  REFGUID libid;
  WORD major;
  WORD minor;
  LCID locale;
  REFCLSID served_class;  // while any view serves it, the shared keys stay
};

// For the machine, the system's RegisterTypeLib, then the module's path
// under locale 0 through `writer`. For the user, the keys RegisterTypeLib
// would write (version, FLAGS, HELPDIR, the module's path for this
// architecture under both locales, and the interfaces with the automation
// marshaler), written by `writer` under its root so a failure can be taken
// back: the system's per-user registration is not available everywhere,
// and where it is emulated it writes for all users.
HRESULT RegisterTypeLibrary(RegistrationScope scope, RegistryWriter& writer,
                            const TypeLibraryIdentity& identity);
// Whether this architecture's key is there under the library's locale.
bool TypeLibraryRegistered(HKEY root, const TypeLibraryIdentity& identity);
// Removes this architecture's keys under both locales; the shared keys,
// and the interface keys of both views, only once no view serves the
// class.
HRESULT UnregisterTypeLibrary(HKEY root, const TypeLibraryIdentity& identity);

}  // namespace tolvex::win32
