#pragma once

#include <atomic>
#include <ostream>

#include "engine/file_system.h"

namespace vendrake::cli {

// Exit statuses of vendrake-cli.
inline constexpr int kExitAllWritten = 0;
// A file failed, the source folder was empty or could not be listed, its
// listing broke off, memory ran out, or standard output could not be written.
inline constexpr int kExitSomeFailed = 1;
inline constexpr int kExitRejected = 2;      // an input was rejected or the usage was wrong
inline constexpr int kExitSignalBase = 128;  // a run stopped by signal n exits with 128 + n

// A request from outside to end the run between files, made by a signal
// handler: it stores the signal's number in `signal`, then sets `requested`.
// `over` is set once the run is over and the program is about to end, for a
// handler that must not return before then (see AnswerConsoleControl).
struct StopRequest {
  std::atomic<bool> requested{false};
  std::atomic<int> signal{0};
  std::atomic<bool> over{false};
};

// The whole console program over `files`: parses the arguments, runs the Scale
// command on them and prints its message (the summary to `out`, any other
// message to `err`), then on `err` a line on the cause where there is one: why
// the source folder gave nothing, why its listing broke off, that memory ran
// out, that the run was stopped, or which file failed first when there is no
// report. Once `stop`
// is requested the run ends after the file in hand. The run's progress shows
// on `err` as --progress and --no-progress ask, and by default as a line
// where `err_is_terminal`. Returns the exit status; one that would be 0
// becomes 1 when `out` could not be written.
int RunCli(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
           engine::FileSystem& files, const StopRequest* stop = nullptr,
           bool err_is_terminal = false);

}  // namespace vendrake::cli
