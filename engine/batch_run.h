#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/errors.h"
#include "engine/file_system.h"
#include "engine/window_state.h"

namespace vendrake::engine {

// Files tried and files written in one run. The counts are exact for any
// number of files.
struct RunTally {
  std::int64_t attempted = 0;
  std::int64_t succeeded = 0;
  bool operator==(const RunTally&) const = default;
};

struct BatchOutcome {
  enum class Kind {
    kSourceEmpty,  // the source folder listed no normal file (or could not be listed)
    kFinished,
  };
  Kind kind = Kind::kFinished;
  RunTally tally;
  // Why the listing gave out early: for kSourceEmpty, why the folder could not
  // be listed (empty when it simply holds no normal file); for kFinished, the
  // error that broke the listing off mid-run (empty when it reached its end).
  std::string listing_error;
  // The run stopped on request before the listing's end.
  bool interrupted = false;
  // The run ran out of memory between files (listing, reporting) and ended
  // there; a file whose own conversion runs out of memory just fails.
  bool out_of_memory = false;
};

// Where in converting one file a failure arose.
enum class BatchStep {
  kCheckName,   // the name would lead outside the folder
  kRead,        // opening, measuring or reading the source file
  kScale,       // the scaling pass
  kNameOutput,  // taking the suffix for the output name
  kWrite,       // staging and replacing the output file
};

// Told of each file's fate as the run goes; optional.
class BatchObserver {
 public:
  virtual ~BatchObserver() = default;
  virtual void FileWritten(std::u16string_view entry, std::u16string_view output_path) = 0;
  virtual void FileFailed(std::u16string_view entry, BatchStep step, const Error& error) = 0;
};

// Scales every normal file of the folder `source` into the folder
// `destination`; both texts end in "\" and use "\" as their only separator.
// `state.ScaleFactor` must be set. Resolves "." and ".." at the end of the
// destination, derives `state.DestBaseName` from it, creates the destination
// folder (one level; failure is not fatal), opens both folders once and
// removes what killed runs left staged in the destination. Then, for each
// listed file, reads it whole into `state.ModelWords`, runs ScaleHeights and
// writes it into the destination as DestBaseName (without its "\") followed
// by the name's suffix from its first "_".
//
// A file that fails, for want of memory too, counts as attempted and not
// succeeded and the run goes on; a failing listing, or memory running out
// outside a file, ends the run with the counts so far. A name that leads to a
// file this run has written is passed over uncounted, so each file is scaled
// once. When `stop` is given and becomes true, the run ends after the file in
// hand, which is finished or abandoned whole. Throws nothing of its own.
BatchOutcome RunBatch(WindowState& state, FileSystem& files, std::u16string_view source,
                      std::u16string_view destination, BatchObserver* observer = nullptr,
                      const std::atomic<bool>* stop = nullptr);

}  // namespace vendrake::engine
