#include <signal.h>
#include <unistd.h>

#include "stop_request.h"

namespace tolvex::server {
namespace {

sigset_t StopSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  return signals;
}

}  // namespace

StopRequest::StopRequest() {
  const sigset_t signals = StopSignals();
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

StopRequest::~StopRequest() = default;

void StopRequest::Wait() {
  const sigset_t signals = StopSignals();
  int received = 0;
  sigwait(&signals, &received);
}

// Every thread blocks the signal, so the waiting one takes it.
void StopRequest::Release() { kill(getpid(), SIGTERM); }

}  // namespace tolvex::server
