#pragma once

#include <atomic>
#include <cstddef>
#include <string>

#include "command/control_surface.h"
#include "engine/batch_run.h"
#include "engine/file_system.h"
#include "engine/window_state.h"

namespace vendrake::command {

struct ScaleOutcome {
  enum class Kind {
    kRejected,     // an input check failed; nothing ran
    kSourceEmpty,  // the source folder listed no normal file
    kFinished,
  };
  Kind kind = Kind::kRejected;
  engine::RunTally tally;  // meaningful when finished
  // As the batch run reported them; see engine::BatchOutcome.
  std::string listing_error;
  bool interrupted = false;
  std::string destination_error;
  std::string flush_error;
  bool out_of_memory = false;
};

// What pressing "Scale" does. Locks the button, checks the source, destination
// and scale texts in that order (writing the normalised folder texts back into
// their boxes: "/" becomes "\", and a final "\" is added), sets
// state.ScaleFactor, runs the batch over `files`, unlocks the button and shows
// exactly one message: the reason for stopping, or the summary of the run.
// `observer`, if given, hears of every file; `stop`, if given, ends the run
// early once it becomes true; with `jobs` above 1, several files are staged
// at once (see engine::RunBatch).
ScaleOutcome OnScale(ControlSurface& surface, engine::WindowState& state, engine::FileSystem& files,
                     engine::BatchObserver* observer = nullptr,
                     const std::atomic<bool>* stop = nullptr, std::size_t jobs = 1);

}  // namespace vendrake::command
