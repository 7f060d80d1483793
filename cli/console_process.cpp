#include "cli/console_process.h"

#include <csignal>
#include <iostream>

#ifdef _WIN32
#include <windows.h>

#include <thread>

#include "cli/utf16_output_buffer.h"
#include "engine/text_encoding.h"
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace vendrake::cli {
namespace {

// Only lock-free atomics may be touched from a signal handler.
static_assert(std::atomic<bool>::is_always_lock_free);
static_assert(std::atomic<int>::is_always_lock_free);

StopRequest stop_request;
// The status that EndOfRun was given.
std::atomic<int> exit_status{0};

void RequestStopOf(StopRequest& stop, int signal) {
  int none = 0;
  // The first signal names the exit status, whatever follows it.
  stop.signal.compare_exchange_strong(none, signal);
  stop.requested.store(true);
}

extern "C" void RequestStop(int signal) { RequestStopOf(stop_request, signal); }

#ifndef _WIN32
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

void Catch(int signal) {
  struct sigaction previous {};
  if (sigaction(signal, nullptr, &previous) != 0 || previous.sa_handler == SIG_IGN) return;
  struct sigaction action {};
  action.sa_handler = RequestStop;
  // The kernel takes a signal (and resets its handler) some time before the
  // handler runs; another stop signal coming meanwhile would otherwise run
  // its handler first, on top, and name the exit status in the first one's
  // place. Blocked, it waits until the first handler has returned.
  sigemptyset(&action.sa_mask);
  for (const int stop_signal : kStopSignals) sigaddset(&action.sa_mask, stop_signal);
  // SA_RESTART: a write blocked on a full pipe carries on rather than failing
  // with EINTR. SA_RESETHAND: a second signal ends a run stuck in a call.
  action.sa_flags = static_cast<int>(SA_RESTART | SA_RESETHAND);
  sigaction(signal, &action, nullptr);
}
#endif

#ifdef _WIN32
// How long the console's closing, a log-off or a shutdown waits for the run.
// Windows ends the process 5 s after the console's close, or once its own
// time for a log-off or a shutdown has passed, whatever the handler does;
// this bound is for a system that would wait on.
constexpr std::chrono::milliseconds kConsoleEndPatience{20'000};

bool EndsTheProcess(DWORD event) {
  return event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT;
}

// Runs on a thread of its own that Windows starts for each event.
BOOL WINAPI OnConsoleControl(DWORD event) {
  if (!AnswerConsoleControl(event, stop_request, kConsoleEndPatience)) return FALSE;
  // Returning would let Windows end the process with a status of its own.
  if (EndsTheProcess(event) && stop_request.over.load()) ExitProcess(exit_status.load());
  return TRUE;
}

// Sends std::cout or std::cerr to the console behind `handle` as UTF-16, if
// there is one.
void WriteToConsole(std::ostream& stream, HANDLE handle) {
  DWORD mode = 0;
  if (handle == INVALID_HANDLE_VALUE || handle == nullptr || !GetConsoleMode(handle, &mode)) {
    return;
  }
  // Never destroyed: the stream may be flushed as the program ends, after
  // every object of this program is gone.
  auto* buffer = new Utf16OutputBuffer([handle](std::u16string_view text) {
    while (!text.empty()) {
      DWORD written = 0;
      if (!WriteConsoleW(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
          written == 0) {
        return false;
      }
      text.remove_prefix(written);
    }
    return true;
  });
  stream.flush();
  stream.rdbuf(buffer);
}
#endif

}  // namespace

#ifdef _WIN32
ProgramArguments::ProgramArguments(int argc, wchar_t** argv) {
  for (int k = 0; k < argc; ++k) {
    const std::wstring_view argument(argv[k]);
    texts_.push_back(engine::Utf16ToUtf8(std::u16string(argument.begin(), argument.end())));
  }
  for (const std::string& text : texts_) pointers_.push_back(text.c_str());
}
#else
ProgramArguments::ProgramArguments(int argc, char** argv) : texts_(argv, argv + argc) {
  for (const std::string& text : texts_) pointers_.push_back(text.c_str());
}
#endif

void UseConsoleText() {
#ifdef _WIN32
  WriteToConsole(std::cout, GetStdHandle(STD_OUTPUT_HANDLE));
  WriteToConsole(std::cerr, GetStdHandle(STD_ERROR_HANDLE));
#endif
}

bool StandardErrorIsTerminal() {
#ifdef _WIN32
  // GetConsoleMode fails for a handle that is not a console's: a file, a
  // pipe, or the NUL device, which _isatty would take for a terminal.
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
#else
  return isatty(STDERR_FILENO) == 1;
#endif
}

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
  // The C run-time never raises SIGTERM itself, but raise() may. Ctrl+C,
  // Ctrl+Break, the console's closing, log-off and shutdown come as console
  // control events. Windows has no SIGPIPE.
  std::signal(SIGTERM, RequestStop);
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
#else
  for (const int signal : kStopSignals) Catch(signal);
  std::signal(SIGPIPE, SIG_IGN);
  // Past the file-size limit (ulimit -f) the signal would kill the run before
  // it could report or clean up; ignored, the write fails with EFBIG instead
  // and only that file fails.
  std::signal(SIGXFSZ, SIG_IGN);
#endif
  return stop_request;
}

int EndOfRun(int status) {
  exit_status.store(status);
  stop_request.over.store(true);
  return status;
}

#ifdef _WIN32
bool AnswerConsoleControl(unsigned long event, StopRequest& stop,
                          std::chrono::milliseconds patience) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT: {
      const int signal = event == CTRL_C_EVENT ? SIGINT : SIGBREAK;
      // A second one ends a run stuck in a call, as on POSIX.
      if (stop.requested.load() && stop.signal.load() == signal) return false;
      RequestStopOf(stop, signal);
      return true;
    }
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT: {
      RequestStopOf(stop, SIGTERM);
      // Polled: the handler's thread may be ended at any moment, and holds
      // nothing that it would have to give back.
      const auto give_up = std::chrono::steady_clock::now() + patience;
      while (!stop.over.load() && std::chrono::steady_clock::now() < give_up) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      return true;
    }
    default:
      return false;
  }
}
#endif

}  // namespace vendrake::cli
