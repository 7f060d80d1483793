#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "cli/cli_options.h"

namespace vendrake::cli {

// Options that do not go together, or a folder no destination can be named
// after; the message says which.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One folder of the call and where its models go, as texts for the command.
struct FolderJob {
  std::u16string folder;  // as given, to name it in the summary
  std::u16string source;
  std::u16string destination;
};

// The folders the options name, in their order. Each FOLDER argument goes
// into a folder beside it, its name followed by --suffix (by default "_",
// the factor in its shortest form, and "x": _2x, _0.5x), or into --dest when
// it is the only one. Without FOLDER arguments, --source and --dest (or their
// defaults) name the one folder, and --suffix, if given, names its
// destination after the source. A relative name too short for the window's
// check ("A") is given to the command through the current folder (".\A").
// Throws UsageError.
std::vector<FolderJob> PlanFolders(const CliOptions& options);

}  // namespace vendrake::cli
