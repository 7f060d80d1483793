#include "cli/console_process.h"

#include <csignal>
#include <iostream>

#ifdef _WIN32
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

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

#ifdef _WIN32
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

ProgramArguments::ProgramArguments(int argc, char** argv) {
#ifdef _WIN32
  (void)argc;
  (void)argv;
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  for (int k = 0; wide != nullptr && k < count; ++k) {
    const std::wstring_view argument(wide[k]);
    texts_.push_back(engine::Utf16ToUtf8(std::u16string(argument.begin(), argument.end())));
  }
  LocalFree(wide);
#else
  texts_.assign(argv, argv + argc);
#endif
  for (const std::string& text : texts_) pointers_.push_back(text.c_str());
}

void UseConsoleText() {
#ifdef _WIN32
  WriteToConsole(std::cout, GetStdHandle(STD_OUTPUT_HANDLE));
  WriteToConsole(std::cerr, GetStdHandle(STD_ERROR_HANDLE));
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
  // Past the file-size limit (ulimit -f) the signal would kill the run before
  // it could report or clean up; ignored, the write fails with EFBIG instead
  // and only that file fails.
  std::signal(SIGXFSZ, SIG_IGN);
#endif
  return stop_request;
}

}  // namespace vendrake::cli
