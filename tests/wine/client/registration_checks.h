#pragma once

#include <string>

namespace wine_client {

// Registered for all users; with_stand_in: TolvexArchiver.dll as well.
void CheckRegistered(bool with_stand_in);
// Nothing of ours in HKEY_CLASSES_ROOT, in either registry view.
void CheckUnregistered();
// After regsvr32 /n /i:user (registered) or /u /n /i:user: the keys under
// HKCU\Software\Classes, and none under HKLM\Software\Classes.
void CheckUserRegistration(bool registered);
// A registration whose keys cannot be written returns the real HRESULT
// and leaves nothing behind, for all users and per user.
void CheckDeniedRegistration(const std::wstring& dll);

}  // namespace wine_client
