#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "cli/run_cli.h"

namespace vendrake::cli {

// Puts /dev/null, opened the wrong way round, in place of any standard stream
// (0, 1, 2) the program was started with closed: no file the run opens can
// then take a standard stream's number, and writes to a closed standard
// output still fail. Does nothing on Windows.
void ReopenClosedStandardStreams();

// Makes SIGINT, SIGTERM and SIGHUP ask the run to stop between files through
// the returned request, except one the program was started with ignored (as
// nohup does with SIGHUP). A second signal of the same kind ends the process
// at once. Ignores SIGPIPE, so that a closed pipe is a write error to report,
// not the end of the run, and SIGXFSZ, so that an output beyond the file-size
// limit is a failed file. On Windows, the console's control events instead,
// as AnswerConsoleControl tells.
const StopRequest& CatchStopSignals();

// Says that the run is over and the program about to end with `status`, which
// it returns. On Windows, the console's closing, a log-off or a shutdown waits
// for this, and then ends the process with `status`.
int EndOfRun(int status);

#ifdef _WIN32
// What a console control event does to the run that `stop` governs:
// - Ctrl+C stops it as SIGINT does, Ctrl+Break as SIGBREAK;
//   the second of the kind that came first is not handled, and so ends the
//   process at once;
// - the console's closing, log-off and shutdown stop it as SIGTERM does, and,
//   as Windows ends the process once the handler returns, wait until `stop`
//   says the run is over, at most `patience`.
// Returns whether the event was handled; false for any other event.
bool AnswerConsoleControl(unsigned long event, StopRequest& stop,
                          std::chrono::milliseconds patience);
#endif

// The program's arguments as UTF-8 texts. On Windows they come from the
// UTF-16 arguments of wmain, since `argv` would hold them in the ANSI code
// page, which turns any character it lacks into "?"; elsewhere they are
// `argv` as it is.
class ProgramArguments {
 public:
#ifdef _WIN32
  ProgramArguments(int argc, wchar_t** argv);
#else
  ProgramArguments(int argc, char** argv);
#endif

  int Count() const { return static_cast<int>(pointers_.size()); }
  const char* const* Values() const { return pointers_.data(); }

 private:
  std::vector<std::string> texts_;
  std::vector<const char*> pointers_;
};

// Whether standard error is a terminal (on Windows, a console), where the
// run's progress shows as a line by default.
bool StandardErrorIsTerminal();

// On Windows, makes std::cout and std::cerr hand their text to the console
// as UTF-16 (WriteConsoleW) where they are one, so that every name shows as
// it is whatever the console's code page; redirected, they write UTF-8. Does
// nothing elsewhere.
void UseConsoleText();

}  // namespace vendrake::cli
