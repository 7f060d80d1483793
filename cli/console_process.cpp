#include "cli/console_process.h"

#include <csignal>

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

namespace vendrake::cli {
namespace {

// Only lock-free atomics may be touched from a signal handler.
static_assert(std::atomic<bool>::is_always_lock_free);
static_assert(std::atomic<int>::is_always_lock_free);

StopRequest stop_request;

extern "C" void RequestStop(int signal) {
  int none = 0;
  // The first signal names the exit status, whatever follows it.
  stop_request.signal.compare_exchange_strong(none, signal);
  stop_request.requested.store(true);
}

#ifndef _WIN32
void Catch(int signal) {
  struct sigaction previous {};
  if (sigaction(signal, nullptr, &previous) != 0 || previous.sa_handler == SIG_IGN) return;
  struct sigaction action {};
  action.sa_handler = RequestStop;
  sigemptyset(&action.sa_mask);
  // SA_RESTART: a write blocked on a full pipe carries on rather than failing
  // with EINTR. SA_RESETHAND: a second signal ends a run stuck in a call.
  action.sa_flags = static_cast<int>(SA_RESTART | SA_RESETHAND);
  sigaction(signal, &action, nullptr);
}
#endif

}  // namespace

void ReopenClosedStandardStreams() {
#ifndef _WIN32
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (fcntl(fd, F_GETFD) != -1) continue;
    // open takes the lowest free number, which is `fd` itself as the lower
    // ones are open by now.
    const int opened = open("/dev/null", fd == STDIN_FILENO ? O_WRONLY : O_RDONLY);
    if (opened != fd && opened >= 0) close(opened);
  }
#endif
}

const StopRequest& CatchStopSignals() {
#ifdef _WIN32
  // The C run-time calls the handler for Ctrl+C, in a thread of its own, after
  // setting SIGINT back to its default, so a second Ctrl+C ends the program as
  // on POSIX. Windows has no SIGPIPE.
  std::signal(SIGINT, RequestStop);
  std::signal(SIGTERM, RequestStop);
#else
  Catch(SIGINT);
  Catch(SIGTERM);
  Catch(SIGHUP);
  std::signal(SIGPIPE, SIG_IGN);
#endif
  return stop_request;
}

}  // namespace vendrake::cli
