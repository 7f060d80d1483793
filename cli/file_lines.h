#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "engine/batch_run.h"

namespace vendrake::cli {

// The heights of one run's staged models: how many, the least and the most.
struct HeightRange {
  std::int64_t count = 0;
  float least = 0.0F;
  float most = 0.0F;
};

// What the summary of one folder's run says.
struct FolderSummary {
  std::u16string folder;       // the folder as given, named when there are several
  std::u16string source;       // as the command normalised them
  std::u16string destination;  // (empty when the inputs were rejected)
  engine::RunTally tally;
  std::u16string message;  // the command's summary, or why there is none
  bool finished = false;   // the run went through the folder: `message` is its summary
  bool dry_run = false;
  std::int64_t replaced = 0;  // outputs that a later file of the run replaced
  std::optional<HeightRange> heights_before;
  std::optional<HeightRange> heights_after;
};

// Where vendrake-cli tells of each file and of each folder's summary: as
// lines of text or as JSON objects.
class FileLines {
 public:
  virtual ~FileLines() = default;
  // `replaced` names the earlier file of the run whose output this one's
  // output replaced; it is empty when there is none.
  virtual void Written(std::u16string_view entry, std::u16string_view output_path,
                       std::u16string_view replaced) = 0;
  virtual void Failed(std::u16string_view entry, engine::BatchStep step,
                      const engine::Error& error) = 0;
  virtual void PassedOver(std::u16string_view entry, std::string_view reason) = 0;
  // One folder's run has ended; `several` when the call names more than one.
  virtual void Summary(const FolderSummary& summary, bool several) = 0;
  // After several folders, the sums of their counts.
  virtual void Total(const engine::RunTally& total, std::int64_t folders, bool dry_run) = 0;
};

}  // namespace vendrake::cli
