// Asks WinVerifyTrust, as Windows asks it before it trusts a signed file,
// whether each file's Authenticode signature holds: prints one line per
// file with the answer and exits with the number of files refused.
#include <windows.h>

#include <softpub.h>
#include <wintrust.h>

#include <cstdio>

namespace {

LONG VerifyFile(const wchar_t* path) {
  WINTRUST_FILE_INFO file{};
  file.cbStruct = sizeof file;
  file.pcwszFilePath = path;
  WINTRUST_DATA data{};
  data.cbStruct = sizeof data;
  data.dwUIChoice = WTD_UI_NONE;
  data.fdwRevocationChecks = WTD_REVOKE_NONE;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &file;
  data.dwStateAction = WTD_STATEACTION_VERIFY;
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  const LONG status = WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
  // The state the verification kept is released whatever the answer.
  data.dwStateAction = WTD_STATEACTION_CLOSE;
  WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
  return status;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: verify_signature FILE...\n");
    return 100;
  }
  int refused = 0;
  for (int i = 1; i < argc; ++i) {
    const LONG status = VerifyFile(argv[i]);
    std::printf("%ls: WinVerifyTrust 0x%08lx%s\n", argv[i], static_cast<unsigned long>(status),
                status == ERROR_SUCCESS ? " (trusted)" : "");
    if (status != ERROR_SUCCESS) ++refused;
  }
  return refused;
}
