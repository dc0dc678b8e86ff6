#include "interrupt.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>

namespace tolvex::posix {
namespace {

std::atomic<int> presses{0};
std::atomic<int> taken{0};
int pipe_fds[2] = {-1, -1};

void OnInterrupt(int) {
  if (presses.fetch_add(1) >= 1) {
    // A second press while the first is being honoured: the user means it.
    static const char kMessage[] = "\n";
    (void)!write(STDERR_FILENO, kMessage, sizeof kMessage - 1);
    _exit(130);
  }
  const char byte = 1;
  (void)!write(pipe_fds[1], &byte, 1);
}

}  // namespace

void InstallInterruptHandler() {
  if (pipe_fds[0] < 0 && pipe(pipe_fds) == 0) {
    for (const int fd : pipe_fds) {
      fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
      fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
  }
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
}

bool TakeInterrupt() {
  char drain[16];
  if (pipe_fds[0] >= 0) {
    while (read(pipe_fds[0], drain, sizeof drain) > 0) {
    }
  }
  int seen = taken.load();
  if (presses.load() > seen) {
    taken.store(seen + 1);
    return true;
  }
  return false;
}

int InterruptFd() { return pipe_fds[0]; }

}  // namespace tolvex::posix
