#include "interrupt.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <thread>

namespace tolvex::posix {
namespace {

std::atomic<int> presses{0};
std::atomic<int> taken{0};
int pipe_fds[2] = {-1, -1};
bool quiet_exit = false;

// The signals are blocked in every thread and taken here, so it never interrupts
// a system call of the post's worker (which would fail the post instead of
// cancelling it).
void WaitForPresses(sigset_t set) {
  for (;;) {
    int signal_number = 0;
    if (sigwait(&set, &signal_number) != 0) continue;
    // Presses already pending count before the first is announced: the
    // cancel it starts may end the command before this thread runs again.
    int pressed = 1;
    const timespec now{0, 0};
    while (sigtimedwait(&set, nullptr, &now) > 0) ++pressed;
    if (presses.fetch_add(pressed) + pressed >= 2) {
      // A second press while the first is being honoured: the user means it.
      static const char kNewline[] = "\n";
      static const char kWhy[] = "\ntolvex: interrupted again: exiting at once, status 130\n";
      if (quiet_exit) {
        (void)!write(STDERR_FILENO, kNewline, sizeof kNewline - 1);
      } else {
        (void)!write(STDERR_FILENO, kWhy, sizeof kWhy - 1);
      }
      _exit(130);
    }
    const char byte = 1;
    (void)!write(pipe_fds[1], &byte, 1);
  }
}

}  // namespace

void InstallInterruptHandler(bool quiet) {
  if (pipe_fds[0] >= 0) return;
  quiet_exit = quiet;
  if (pipe(pipe_fds) != 0) return;
  for (const int fd : pipe_fds) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    fcntl(fd, F_SETFD, FD_CLOEXEC);
  }
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  // A closed terminal or a polite kill is a Cancel too: the call ends with
  // its outcome and removes its work files, rather than dying mid-step.
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  // Threads started later inherit the mask of the thread that starts them.
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  std::thread(WaitForPresses, set).detach();
}

bool TakeInterrupt() {
  char drain[16];
  if (pipe_fds[0] >= 0) {
    while (read(pipe_fds[0], drain, sizeof drain) > 0) {
    }
  }
  const int seen = taken.load();
  if (presses.load() > seen) {
    taken.store(seen + 1);
    return true;
  }
  return false;
}

int InterruptFd() { return pipe_fds[0]; }

}  // namespace tolvex::posix
