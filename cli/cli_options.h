#pragma once

#include <cstddef>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace vendrake::cli {

// What the command line asks for, as given.
struct CliOptions {
  // The folders given as arguments, in their order; empty when none was.
  std::vector<std::string> sources;
  // --source and --dest: the window's starting texts unless given.
  std::string source;
  std::string destination;
  bool source_given = false;
  bool destination_given = false;
  std::string scale;
  std::optional<std::string> suffix;
  bool report = false;
  bool json = false;
  bool dry_run = false;
  // Files read, scaled and staged at once; 0 for the default.
  std::size_t jobs = 0;
  // --progress and --no-progress: whether to show the run's progress on
  // standard error; without either, a line where that is a terminal.
  std::optional<bool> progress;
};

// Parses the arguments. Returns the options, or nothing when the program is
// done already: --help and --version printed on `out` (exit status 0), or a
// usage error on `err` (exit status 2), each line starting "vendrake-cli: ".
std::optional<CliOptions> ParseOptions(int argc, const char* const* argv, std::ostream& out,
                                       std::ostream& err, int& exit_status);

}  // namespace vendrake::cli
