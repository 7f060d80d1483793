#pragma once

#include <atomic>
#include <cstddef>
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
  // Why the destination folder could not be opened, and so why every file
  // failed to be written: the reason it could not be created, where creating
  // it failed. Empty when it was opened.
  std::string destination_error;
  // Why the names that the last outputs took may not have reached the disk;
  // empty when the run's end was flushed as it should be.
  std::string flush_error;
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
  kConfirm,     // the disk confirming the name the output took
};

// Told of each file's fate as the run goes; optional.
class BatchObserver {
 public:
  virtual ~BatchObserver() = default;
  virtual void FileWritten(std::u16string_view entry, std::u16string_view output_path) = 0;
  virtual void FileFailed(std::u16string_view entry, BatchStep step, const Error& error) = 0;
  // A listed name that was not tried, as the file it leads to is an output of
  // this run; `reason` says how that was told.
  virtual void FilePassedOver(std::u16string_view entry, std::string_view reason) = 0;
  // A listed file has been read, scaled and staged, or has failed, or is
  // passed over: its work is done, and what became of it is told in its
  // turn, which may come a group of files later. Called once per file, in
  // listing order, before that file is told of.
  virtual void FileTaken() {}
  // Whether the observer wants FilesListed; the run then lists the source
  // folder one more time, for the names alone, before it takes a file up.
  virtual bool WantsFilesListed() const { return false; }
  // How many names that first pass over the listing yielded: an estimate of
  // the files the run will tell of, which a folder that changes during the
  // run makes wrong. Called once, before any file is told of.
  virtual void FilesListed(std::int64_t /*listed*/) {}
  // The destination folder could not be opened, `reason` says why, so no
  // file can be written. Heard once, before any file.
  virtual void DestinationUnusable(std::string_view /*reason*/) {}
};

// Scales every normal file of the folder `source` into the folder
// `destination`; both texts end in "\" and use "\" as their only separator.
// `state.ScaleFactor` must be set. Resolves "." and ".." at the end of the
// destination, derives `state.DestBaseName` from it, creates the destination
// folder (one level; failure is not fatal), opens both folders once and
// removes what killed runs left staged in the destination. Then, for each
// listed file, reads it whole into `state.ModelWords`, runs ScaleHeights and
// stages it for the destination as DestBaseName (without its "\") followed
// by the name's suffix from its first "_".
//
// Staged outputs take their names in groups, in listing order, once the
// destination has flushed them all to disk together; the last group at the
// end, followed by one more flush for the names. The observer hears of each
// file in listing order, a group at a time.
//
// A file that fails, for want of memory too, counts as attempted and not
// succeeded and the run goes on; a failing listing, or memory running out
// outside a file, ends the run with the counts so far, once the group in hand
// has taken its names. A name that leads to a file this run has written is
// passed over uncounted, so each file is scaled once: by identity where the
// volume tells files apart, and where it cannot, by name, when the
// destination is the source folder. When `stop` is given and becomes true,
// the run ends after the file in hand, and the group in hand takes its names.
//
// With `jobs` above 1, up to that many threads read, scale and stage listed
// files ahead while the outputs take their names in listing order, a group
// at a time; the outcome, the observer's calls and their order are those of
// a run with one job. `files` must then be safe from several threads (see
// FileSystem), and the images of the files ahead are the threads' own, so
// `state.ModelWords` is left as it was. Throws nothing of its own.
BatchOutcome RunBatch(WindowState& state, FileSystem& files, std::u16string_view source,
                      std::u16string_view destination, BatchObserver* observer = nullptr,
                      const std::atomic<bool>* stop = nullptr, std::size_t jobs = 1);

// The jobs a run takes by default: 8, whatever the processor count, as a run
// mostly waits on the disk (each open, write and rename a round trip on a
// share), not on the processor; robocopy's /MT defaults to 8 for the same
// reason.
std::size_t DefaultJobs();

}  // namespace vendrake::engine
