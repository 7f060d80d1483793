#include <iostream>

#include "cli/console_process.h"
#include "cli/run_cli.h"
#include "engine/platform/platform_file_system.h"

// On Windows the arguments come as UTF-16 through wmain (linked with
// -municode), which needs no SHELL32: a program that loads it, and with it
// USER32, counts as a windowed one and hears of no log-off or shutdown on
// its console.
#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
#else
int main(int argc, char** argv) {
#endif
  vendrake::cli::ReopenClosedStandardStreams();
  vendrake::cli::UseConsoleText();
  const vendrake::cli::ProgramArguments arguments(argc, argv);
  const vendrake::cli::StopRequest& stop = vendrake::cli::CatchStopSignals();
  const auto files = vendrake::engine::MakePlatformFileSystem();
  return vendrake::cli::EndOfRun(vendrake::cli::RunCli(arguments.Count(), arguments.Values(),
                                                       std::cout, std::cerr, *files, &stop,
                                                       vendrake::cli::StandardErrorIsTerminal()));
}
