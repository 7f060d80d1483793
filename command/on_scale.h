#pragma once

#include <atomic>
#include <cstddef>
#include <optional>
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

// The folders of a run whose inputs passed their checks, normalised.
struct ScaleFolders {
  std::u16string source;
  std::u16string destination;
};

// What a batch run left for the user: its outcome and the details of what
// went wrong (see RunDetails::Text).
struct ScaleRun {
  engine::BatchOutcome batch;
  std::u16string details;
};

// What pressing "Scale" does, in three steps, so that a window can run the
// middle one off its own thread; OnScale takes all three in turn.
//
// BeginScale locks the button, checks the source, destination and scale
// texts in that order (writing the normalised folder texts back into their
// boxes: "/" becomes "\", and a final "\" is added) and sets
// state.ScaleFactor. When a check fails it shows the reason, unlocks the
// button and returns nothing.
std::optional<ScaleFolders> BeginScale(ControlSurface& surface, engine::WindowState& state);

// Runs the batch over `files` (see engine::RunBatch), with `jobs` files
// staged at once, and gathers its details. Touches no control, so it may run
// on any thread while the surface's own thread goes on; `observer` hears of
// every file on the calling thread.
ScaleRun RunScale(const ScaleFolders& folders, engine::WindowState& state,
                  engine::FileSystem& files, engine::BatchObserver* observer = nullptr,
                  const std::atomic<bool>* stop = nullptr, std::size_t jobs = 1);

// Unlocks the button and shows exactly one message: that the source held
// nothing, or the summary of the run, with the details when something went
// wrong.
ScaleOutcome FinishScale(ControlSurface& surface, const ScaleRun& run);

// BeginScale, RunScale and FinishScale in turn, on the calling thread.
// `observer`, if given, hears of every file; `stop`, if given, ends the run
// early once it becomes true; with `jobs` above 1, several files are staged
// at once (see engine::RunBatch).
ScaleOutcome OnScale(ControlSurface& surface, engine::WindowState& state, engine::FileSystem& files,
                     engine::BatchObserver* observer = nullptr,
                     const std::atomic<bool>* stop = nullptr, std::size_t jobs = 1);

}  // namespace vendrake::command
