// Gives a top-level window the close command, as its close box, Alt+F4 or
// the system menu do: WM_SYSCOMMAND with SC_CLOSE, which the window's
// default handling turns into WM_CLOSE. Under Xvfb there is no window
// manager whose close request Wine could translate.
// Usage: send_close_command TITLE   (exit 0 once posted, 1 if not found)
#include <windows.h>

#include <cstdio>

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: send_close_command TITLE\n");
    return 2;
  }
  const HWND window = FindWindowW(nullptr, argv[1]);
  if (window == nullptr) {
    std::fprintf(stderr, "no window with that title\n");
    return 1;
  }
  return PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0) ? 0 : 1;
}
