// Ctrl-C for the terminal front end (install before any other thread starts):
// the first press asks the running call
// to cancel (the dialog's Cancel button); a second press exits at once.
// SIGTERM and SIGHUP count as presses.
#pragma once

namespace tolvex::posix {

// Unless `quiet`, the exit at a second press says why on stderr.
void InstallInterruptHandler(bool quiet = false);
// True once per press that has not been taken yet.
bool TakeInterrupt();
// A file descriptor that becomes readable on each press, for poll().
int InterruptFd();

}  // namespace tolvex::posix
