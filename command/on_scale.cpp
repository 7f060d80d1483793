#include "command/on_scale.h"

#include <algorithm>
#include <string>
#include <utility>

#include "command/messages.h"
#include "command/run_details.h"
#include "command/scale_text.h"

namespace vendrake::command {
namespace {

// Shorter texts cannot name a folder: the shortest is a drive root, C:\.
constexpr std::size_t kMinimumPathLength = 3;

void Unlock(ControlSurface& surface) {
  surface.SetButtonEnabled(true);
  surface.SetButtonCaption(kIdleCaption);
}

// Reports why the command stops; the button comes back once the user has
// read the message.
std::nullopt_t Stop(ControlSurface& surface, const std::u16string& message) {
  surface.ShowMessage(message);
  Unlock(surface);
  return std::nullopt;
}

// Normalises a folder box in place, writing back after each change, and
// returns the normalised text.
std::u16string NormaliseFolderBox(std::u16string text, ControlSurface& surface,
                                  void (ControlSurface::*write_back)(const std::u16string&)) {
  std::replace(text.begin(), text.end(), u'/', u'\\');
  (surface.*write_back)(text);
  if (text.back() != u'\\') {
    text.push_back(u'\\');
    (surface.*write_back)(text);
  }
  return text;
}

}  // namespace

std::optional<ScaleFolders> BeginScale(ControlSurface& surface, engine::WindowState& state) {
  surface.SetButtonEnabled(false);
  surface.SetButtonCaption(kWorkingCaption);

  const std::u16string typed_source = surface.SourceText();
  if (typed_source.size() < kMinimumPathLength) return Stop(surface, kSourceInvalidMessage);
  std::u16string source = NormaliseFolderBox(typed_source, surface, &ControlSurface::SetSourceText);

  const std::u16string typed_destination = surface.DestinationText();
  if (typed_destination.size() < kMinimumPathLength) {
    return Stop(surface, kDestinationInvalidMessage);
  }
  std::u16string destination =
      NormaliseFolderBox(typed_destination, surface, &ControlSurface::SetDestinationText);

  const ParsedScale scale = ParseScaleText(surface.ScaleText());
  if (scale.kind == ParsedScale::Kind::kNotNumeric) return Stop(surface, kScaleNotNumericMessage);
  // Beyond the single range there is no factor to scale by.
  if (scale.kind == ParsedScale::Kind::kOutOfRange) return Stop(surface, kScaleOutOfRangeMessage);
  state.ScaleFactor = scale.value;
  return ScaleFolders{.source = std::move(source), .destination = std::move(destination)};
}

ScaleRun RunScale(const ScaleFolders& folders, engine::WindowState& state,
                  engine::FileSystem& files, engine::BatchObserver* observer,
                  const std::atomic<bool>* stop, std::size_t jobs) {
  RunDetails details(observer);
  ScaleRun run;
  run.batch =
      engine::RunBatch(state, files, folders.source, folders.destination, &details, stop, jobs);
  run.details = details.Text(run.batch);
  return run;
}

ScaleOutcome FinishScale(ControlSurface& surface, const ScaleRun& run) {
  const engine::BatchOutcome& batch = run.batch;
  if (batch.kind == engine::BatchOutcome::Kind::kSourceEmpty) {
    surface.ShowMessage(kSourceMissingMessage);
    Unlock(surface);
    ScaleOutcome outcome;
    outcome.kind = ScaleOutcome::Kind::kSourceEmpty;
    outcome.listing_error = batch.listing_error;
    outcome.destination_error = batch.destination_error;
    return outcome;
  }
  Unlock(surface);
  if (run.details.empty()) {
    surface.ShowMessage(SummaryMessage(batch.tally));
  } else {
    surface.ShowMessageWithDetails(SummaryMessage(batch.tally), run.details);
  }
  return {.kind = ScaleOutcome::Kind::kFinished,
          .tally = batch.tally,
          .listing_error = batch.listing_error,
          .interrupted = batch.interrupted,
          .destination_error = batch.destination_error,
          .flush_error = batch.flush_error,
          .out_of_memory = batch.out_of_memory};
}

ScaleOutcome OnScale(ControlSurface& surface, engine::WindowState& state, engine::FileSystem& files,
                     engine::BatchObserver* observer, const std::atomic<bool>* stop,
                     std::size_t jobs) {
  const std::optional<ScaleFolders> folders = BeginScale(surface, state);
  if (!folders) return {};
  return FinishScale(surface, RunScale(*folders, state, files, observer, stop, jobs));
}

}  // namespace vendrake::command
