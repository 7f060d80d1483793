#include "command/on_scale.h"

#include <algorithm>
#include <string>

#include "command/messages.h"
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
ScaleOutcome Stop(ControlSurface& surface, const std::u16string& message,
                  ScaleOutcome::Kind kind = ScaleOutcome::Kind::kRejected) {
  surface.ShowMessage(message);
  Unlock(surface);
  ScaleOutcome outcome;
  outcome.kind = kind;
  return outcome;
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

ScaleOutcome OnScale(ControlSurface& surface, engine::WindowState& state, engine::FileSystem& files,
                     engine::BatchObserver* observer, const std::atomic<bool>* stop,
                     std::size_t jobs) {
  surface.SetButtonEnabled(false);
  surface.SetButtonCaption(kWorkingCaption);

  const std::u16string typed_source = surface.SourceText();
  if (typed_source.size() < kMinimumPathLength) return Stop(surface, kSourceInvalidMessage);
  const std::u16string source =
      NormaliseFolderBox(typed_source, surface, &ControlSurface::SetSourceText);

  const std::u16string typed_destination = surface.DestinationText();
  if (typed_destination.size() < kMinimumPathLength) {
    return Stop(surface, kDestinationInvalidMessage);
  }
  const std::u16string destination =
      NormaliseFolderBox(typed_destination, surface, &ControlSurface::SetDestinationText);

  const ParsedScale scale = ParseScaleText(surface.ScaleText());
  if (scale.kind == ParsedScale::Kind::kNotNumeric) return Stop(surface, kScaleNotNumericMessage);
  // Beyond the single range there is no factor to scale by.
  if (scale.kind == ParsedScale::Kind::kOutOfRange) return Stop(surface, kScaleOutOfRangeMessage);
  state.ScaleFactor = scale.value;

  const engine::BatchOutcome run =
      engine::RunBatch(state, files, source, destination, observer, stop, jobs);
  if (run.kind == engine::BatchOutcome::Kind::kSourceEmpty) {
    ScaleOutcome outcome = Stop(surface, kSourceMissingMessage, ScaleOutcome::Kind::kSourceEmpty);
    outcome.listing_error = run.listing_error;
    outcome.destination_error = run.destination_error;
    return outcome;
  }
  Unlock(surface);
  surface.ShowMessage(SummaryMessage(run.tally));
  return {.kind = ScaleOutcome::Kind::kFinished,
          .tally = run.tally,
          .listing_error = run.listing_error,
          .interrupted = run.interrupted,
          .destination_error = run.destination_error,
          .flush_error = run.flush_error,
          .out_of_memory = run.out_of_memory};
}

}  // namespace vendrake::command
