#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "engine/batch_run.h"
#include "engine/file_system.h"
#include "engine/folder_text.h"
#include "engine/listing_order_queue.h"
#include "engine/run_outputs.h"
#include "engine/staging_pool.h"
#include "engine/window_state.h"

namespace vendrake::engine {

// One run of RunBatch (see batch_run.h). Its work is split by what it does:
// batch_run.cpp sets the run up and walks the listing, batch_runner.cpp
// takes each file in its turn and gives the outputs their names, and
// batch_runner_ahead.cpp stages files ahead on worker threads.
class BatchRunner {
 public:
  BatchRunner(WindowState& state, FileSystem& files, std::u16string_view source,
              std::u16string_view destination, BatchObserver* observer,
              const std::atomic<bool>* stop, std::size_t jobs)
      : state_(state),
        files_(files),
        source_text_(source),
        destination_text_(ResolveTrailingDots(destination)),
        stop_(stop),
        jobs_(jobs),
        observer_(observer),
        queue_(observer, destination_text_) {}

  BatchOutcome Execute();

 private:
  // Sets the run up, then takes every listed file in turn.
  void ConvertAll(BatchOutcome& outcome);

  // The same as ConvertAll's loop, with up to `ahead` listed files read, scaled
  // and staged on worker threads while the committer takes them up in
  // listing order. The listing is still read one name at a time.
  void ConvertOverlapped(FolderListing& listing, std::u16string entry, std::size_t ahead,
                         BatchOutcome& outcome);

  // On a worker thread: reads, scales and stages the listed file, as far as
  // can be done without the committer's knowledge of what the run wrote.
  void StageAhead(FileAhead& ahead, WindowState& state);

  // On the committer's turn for a file staged ahead: keeps what was done
  // where the run in order would have done the same, or does it again.
  void TakeUp(FileAhead& ahead);

  // Creates the destination folder and opens it once, so that every output
  // goes into this very folder even if its text comes to name another one.
  // Each step may fail alone; without a folder, every write fails, and the
  // reason it could not be created, if it could not, is the one to give.
  void OpenDestination();

  // Whether `folder` is known to be on a volume other than the destination's.
  bool IsOnOtherVolume(Folder& folder) const;

  // Whether the outputs go into the folder being listed, where a listed name
  // may be one an output has taken or is about to take.
  bool IsSourceFolder() const;

  bool StopRequested() const { return stop_ != nullptr && stop_->load(std::memory_order_relaxed); }

  // Stages one file's output; a failure of any kind, running out of memory
  // too, fails that file alone.
  void Convert(const std::u16string& entry);

  // Counts the file and has it told in its turn.
  void Record(ListedFile file);

  // Stages the file `entry`, or notes why it failed.
  ListedFile StageOrFail(const std::u16string& entry);

  // Reads, scales and stages the listed file; throws for one that fails.
  void Stage(ListedFile& pending);

  // Reads the opened file into the image of `state`, scales it and stages its
  // output; throws for a file that fails. `state` is the committer's own, or
  // a staging thread's.
  void ScaleAndStage(ListedFile& file, std::unique_ptr<InputFile> input, WindowState& state) const;

  // Opens the listed file; nullptr, with the reason it is passed over, for a
  // link that leads to no file, and marked as no normal file for one that
  // leads to a folder or the like. Such a link may lead to an output in hand
  // once that takes its name: the outputs in hand take theirs first, and the
  // link is followed again.
  std::unique_ptr<InputFile> OpenSource(ListedFile& pending);

  // Whether the file is one that an output in hand is about to replace, and
  // so an output of this run by the time a group of one would reach it. What
  // the outputs replace is looked up only when a file on the destination's
  // volume asks, and once per output.
  bool WillBeReplaced(const FileIdentity& identity);

  // Gives every staged output of the group its name, in listing order, once
  // the destination has brought them all to the disk. The same flush brings
  // the names the group before took there: the files of that group are
  // settled and told by its answer.
  void CommitGroup();

  // Gives the staged output of `pending` its name; it fails alone.
  void Name(ListedFile& pending);

  // At the run's end, one more flush brings the last names to the disk.
  void ConfirmLastNames() { Settle(queue_.AnyAwaitingConfirmation() ? Flush() : nullptr); }

  // Flushes the destination; why the names given before may not be on the
  // disk, if they may not.
  std::exception_ptr Flush();

  // Settles and tells the files whose names the last flush covered.
  void Settle(const std::exception_ptr& names_error);

  WindowState& state_;
  FileSystem& files_;
  const std::u16string source_text_;
  const std::u16string destination_text_;
  const std::atomic<bool>* stop_;
  const std::size_t jobs_;
  BatchObserver* const observer_;

  // How many times a group has taken its names; read by worker threads.
  std::atomic<std::uint64_t> epoch_{0};

  std::unique_ptr<Folder> source_;
  std::unique_ptr<Folder> destination_;
  std::optional<std::uint64_t> destination_volume_;
  // Whether the destination held nothing when the run began: then what an
  // output replaces is nothing or an output of this run, which is passed
  // over whichever of its outputs it is, and is never looked up.
  bool destination_was_empty_ = false;
  // Whether files staged ahead look up what their outputs will replace.
  bool look_up_occupants_ahead_ = true;
  std::string destination_error_;
  std::string flush_error_;  // why names the run gave may not be on the disk
  RunTally tally_;
  RunOutputs outputs_{files_};

  // Listed files whose fate the observer has not heard yet.
  ListingOrderQueue queue_;

  // In a run with files staged ahead: drops the outputs they hold, once
  // their threads are done with them, so that each is staged again in its
  // turn; whether any held one.
  std::function<bool()> drop_files_ahead_;

  std::size_t group_files_ = 0;  // outputs staged in the group in hand
  std::size_t group_capacity_ = 1;
};

}  // namespace vendrake::engine
