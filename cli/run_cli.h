#pragma once

#include <ostream>

#include "engine/file_system.h"

namespace vendrake::cli {

// Exit statuses of vendrake-cli.
inline constexpr int kExitAllWritten = 0;
inline constexpr int kExitSomeFailed = 1;  // a file failed, or the source was empty
inline constexpr int kExitRejected = 2;    // an input was rejected or the usage was wrong

// The whole console program over `files`: parses the arguments, runs the Scale
// command on them and prints its message (the summary to `out`, any other
// message to `err`). Returns the exit status.
int RunCli(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
           engine::FileSystem& files);

}  // namespace vendrake::cli
