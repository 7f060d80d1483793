#pragma once

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
// limit is a failed file. On Windows, SIGINT (Ctrl+C) and SIGTERM only.
const StopRequest& CatchStopSignals();

// The program's arguments as UTF-8 texts. On Windows they come from the
// UTF-16 command line, since `argv` holds them in the ANSI code page, which
// turns any character it lacks into "?"; elsewhere they are `argv` as it is.
class ProgramArguments {
 public:
  ProgramArguments(int argc, char** argv);

  int Count() const { return static_cast<int>(pointers_.size()); }
  const char* const* Values() const { return pointers_.data(); }

 private:
  std::vector<std::string> texts_;
  std::vector<const char*> pointers_;
};

// On Windows, makes std::cout and std::cerr hand their text to the console
// as UTF-16 (WriteConsoleW) where they are one, so that every name shows as
// it is whatever the console's code page; redirected, they write UTF-8. Does
// nothing elsewhere.
void UseConsoleText();

}  // namespace vendrake::cli
