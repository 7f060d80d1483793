#include <iostream>

#include "cli/console_process.h"
#include "cli/run_cli.h"
#include "engine/platform/platform_file_system.h"

int main(int argc, char** argv) {
  vendrake::cli::ReopenClosedStandardStreams();
  vendrake::cli::UseConsoleText();
  const vendrake::cli::ProgramArguments arguments(argc, argv);
  const vendrake::cli::StopRequest& stop = vendrake::cli::CatchStopSignals();
  const auto files = vendrake::engine::MakePlatformFileSystem();
  return vendrake::cli::RunCli(arguments.Count(), arguments.Values(), std::cout, std::cerr, *files,
                               &stop);
}
