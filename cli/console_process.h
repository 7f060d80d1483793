#pragma once

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
// not the end of the run. On Windows, SIGINT (Ctrl+C) and SIGTERM only.
const StopRequest& CatchStopSignals();

}  // namespace vendrake::cli
