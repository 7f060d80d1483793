#pragma once

#include <ostream>
#include <string>

#include "cli/run_cli.h"
#include "cli/run_watch.h"
#include "command/on_scale.h"
#include "engine/file_system.h"
#include "engine/window_state.h"

namespace vendrake::cli {

// The lines on `err`, each starting with `prefix`, beside the command's
// message that say why a folder's run ended as it did, where the message
// alone does not: why the source gave nothing, that the disk did not confirm
// names, that the listing broke off, that memory ran out, that the run was
// stopped by a signal, which file failed first when there is no `report`,
// and how many outputs a later file's replaced.
void PrintCause(std::ostream& err, const std::string& prefix, const command::ScaleOutcome& outcome,
                const std::u16string& source, const RunWatch& watch, bool report,
                const StopRequest* stop);

// A line on `err` when the outputs are hidden files: their names start with
// the destination folder's own name, and that starts with "." where a leading
// "." hides.
void PrintIfOutputsAreHidden(std::ostream& err, const std::string& prefix,
                             const command::ScaleOutcome& outcome, const engine::WindowState& state,
                             const engine::FileSystem& files);

// The exit status of a folder's run that ended with `outcome`.
int ExitStatusFor(const command::ScaleOutcome& outcome, const StopRequest* stop);

}  // namespace vendrake::cli
