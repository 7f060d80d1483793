#include "engine/batch_run.h"

#include <algorithm>
#include <atomic>
#include <deque>
#include <exception>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "engine/folder_text.h"
#include "engine/listed_source.h"
#include "engine/listing_order_queue.h"
#include "engine/output_naming.h"
#include "engine/run_outputs.h"
#include "engine/scale_heights.h"
#include "engine/staging_pool.h"
#include "engine/text_encoding.h"

namespace vendrake::engine {
namespace {

// A group takes its names once this many outputs are staged, or fewer where
// the destination's StagingCapacity says so. Staged outputs are at most
// 131,075 bytes each, so the page cache holds at most about 128 MiB of
// unflushed output.
constexpr std::size_t kMostGroupFiles = 1024;
// Files read, scaled and staged ahead of the committer, per thread: enough to
// keep every thread busy while the committer waits for the next in order.
constexpr std::size_t kFilesAheadPerThread = 2;

constexpr char kPassedOverLeadsNowhere[] = "it is a link to a file that does not exist";

bool IsShortOfRoom(const std::exception_ptr& failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const FileError& error) {
    return error.Problem() == FileProblem::kShortOfRoom;
  } catch (...) {
    return false;
  }
}

class Run {
 public:
  Run(WindowState& state, FileSystem& files, std::u16string_view source,
      std::u16string_view destination, BatchObserver* observer, const std::atomic<bool>* stop,
      std::size_t jobs)
      : state_(state),
        files_(files),
        source_text_(source),
        destination_text_(ResolveTrailingDots(destination)),
        stop_(stop),
        jobs_(jobs),
        queue_(observer, destination_text_) {}

  BatchOutcome Execute() {
    BatchOutcome outcome;
    // Memory that runs out outside any one file (in the listing, or while
    // the observer is told) ends the run; what is staged still takes its
    // names, as it is whole.
    const auto outside_files = [&](const auto& step) {
      try {
        step();
      } catch (const std::bad_alloc&) {
        outcome.out_of_memory = true;
      }
    };
    outside_files([&] { ConvertAll(outcome); });
    outside_files([&] {
      CommitGroup();
      ConfirmLastNames();
    });
    outcome.tally = tally_;
    outcome.flush_error = flush_error_;
    return outcome;
  }

 private:
  void ConvertAll(BatchOutcome& outcome) {
    state_.DestBaseName = DeriveDestBaseName(destination_text_);
    OpenDestination();

    outcome.destination_error = destination_error_;
    std::unique_ptr<FolderListing> listing;
    std::u16string entry;
    try {
      source_ = files_.OpenFolder(source_text_);
      listing = source_->ListNormalFiles();
      entry = listing->Next();
    } catch (const Error& error) {
      // A missing or unreadable folder reads as an empty one.
      outcome.listing_error = error.what();
    }
    if (entry.empty()) {
      outcome.kind = BatchOutcome::Kind::kSourceEmpty;
      return;
    }
    outputs_.SetInPlace(IsSourceFolder());
    // Every file ahead holds a staged output open, on top of the group.
    const std::size_t ahead = jobs_ * kFilesAheadPerThread;
    if (jobs_ > 1 && group_capacity_ > 2 * ahead) {
      group_capacity_ -= ahead;
      ConvertOverlapped(*listing, std::move(entry), ahead, outcome);
      return;
    }

    for (;;) {
      if (StopRequested()) {
        outcome.interrupted = true;
        break;
      }
      Convert(entry);
      if (group_files_ >= group_capacity_) CommitGroup();
      try {
        entry = listing->Next();
      } catch (const Error& error) {
        outcome.listing_error = error.what();
        break;
      }
      if (entry.empty() || entry == u"." || entry == u"..") break;
    }
  }

  // The same as the loop above, with up to `ahead` listed files read, scaled
  // and staged on worker threads while the committer takes them up in
  // listing order. The listing is still read one name at a time.
  void ConvertOverlapped(FolderListing& listing, std::u16string entry, std::size_t ahead,
                         BatchOutcome& outcome) {
    // Declared before the pool, so that they outlive its threads.
    std::deque<std::unique_ptr<FileAhead>> files_ahead;
    StagingPool pool(jobs_, state_,
                     [this](FileAhead& file, WindowState& state) { StageAhead(file, state); });
    const auto hand_in = [&](std::u16string name) {
      auto file = std::make_unique<FileAhead>();
      file->file.entry = std::move(name);
      pool.Submit(file.get());
      files_ahead.push_back(std::move(file));
    };
    // A stop is looked for where a run of one job looks: before the first
    // file, and after each file that has a next.
    if (StopRequested()) {
      outcome.interrupted = true;
      return;
    }
    hand_in(std::move(entry));
    bool listed_all = false;
    for (bool first = true;; first = false) {
      while (!listed_all && files_ahead.size() < ahead) {
        try {
          entry = listing.Next();
        } catch (const Error& error) {
          outcome.listing_error = error.what();
          listed_all = true;
          break;
        } catch (const std::bad_alloc&) {
          // As in a run of one job, the files listed before are finished.
          outcome.out_of_memory = true;
          listed_all = true;
          break;
        }
        listed_all = entry.empty() || entry == u"." || entry == u"..";
        if (!listed_all) hand_in(std::move(entry));
      }
      if (files_ahead.empty()) break;
      if (!first && StopRequested()) {
        outcome.interrupted = true;
        break;
      }
      pool.WaitFor(*files_ahead.front());
      TakeUp(*files_ahead.front());
      files_ahead.pop_front();
      if (group_files_ >= group_capacity_) CommitGroup();
    }
    // What is still ahead goes, staged outputs and all, once the threads
    // have finished with it.
  }

  // On a worker thread: reads, scales and stages the listed file, as far as
  // can be done without the committer's knowledge of what the run wrote.
  void StageAhead(FileAhead& ahead, WindowState& state) {
    // Read before the file is opened: a group that takes its names after
    // this makes the file's turn look again.
    ahead.epoch = epoch_.load(std::memory_order_acquire);
    ListedFile& file = ahead.file;
    file.step = BatchStep::kCheckName;
    try {
      CheckPlainName(file.entry);
      file.step = BatchStep::kRead;
      std::unique_ptr<InputFile> input = source_->OpenForReading(file.entry);
      ahead.identity = input->Identity();
      ahead.opened = true;
      ScaleAndStage(file, std::move(input), state);
    } catch (const FileError& error) {
      // A link to an output not named yet, or a disk or descriptors short
      // while the group in hand holds them: the committer's turn, which may
      // name that group first, decides.
      if (error.Problem() != FileProblem::kOther) ahead.redo = true;
      file.failure = std::current_exception();
    } catch (const Error&) {
      file.failure = std::current_exception();
    } catch (const std::bad_alloc&) {
      file.failure = std::current_exception();
    }
    // A staged output is only ever dropped by the committer, which may be
    // flushing the folder's staged outputs meanwhile.
  }

  // On the committer's turn for a file staged ahead: keeps what was done
  // where the run in order would have done the same, or does it again.
  void TakeUp(FileAhead& ahead) {
    ListedFile& file = ahead.file;
    const bool stale = ahead.redo || ahead.epoch != epoch_.load(std::memory_order_relaxed) ||
                       outputs_.IsAboutToBeNamed(file.entry) ||
                       (ahead.opened && WillBeReplaced(ahead.identity));
    if (stale) {
      file.output.reset();
      Convert(file.entry);
      return;
    }
    if (ahead.opened) {
      file.passed_over = outputs_.PassOverReason(file.entry, ahead.identity);
      if (file.passed_over != nullptr) file.failure = nullptr;
    }
    if (file.failure || file.passed_over != nullptr) {
      file.output.reset();
    } else {
      file.occupant_noted = outputs_.NoteStaged(file.output_name, file.entry, ahead.identity);
    }
    Record(std::move(file));
  }

  // Creates the destination folder and opens it once, so that every output
  // goes into this very folder even if its text comes to name another one.
  // Each step may fail alone; without a folder, every write fails, and the
  // reason it could not be created, if it could not, is the one to give.
  void OpenDestination() {
    std::string creation_error;
    try {
      files_.CreateFolder(destination_text_);
    } catch (const Error& error) {
      // Usually the folder exists already.
      creation_error = error.what();
    }
    try {
      destination_ = files_.OpenFolder(destination_text_);
    } catch (const Error& error) {
      destination_error_ = creation_error.empty() ? error.what() : creation_error;
      return;
    }
    try {
      group_capacity_ = std::min(destination_->StagingCapacity(), kMostGroupFiles);
    } catch (const Error&) {
      group_capacity_ = 1;
    }
    if (group_capacity_ == 0) group_capacity_ = 1;
    try {
      const FileIdentity folder = destination_->Identity();
      if (folder.Known()) destination_volume_ = folder.volume;
    } catch (const Error&) {
      // Any volume may then hold the outputs' names.
    }
    try {
      destination_->RemoveAbandonedStaging();
    } catch (const Error&) {
      // Left for a later run; the outputs do not depend on it.
    }
  }

  // Whether the outputs go into the folder being listed, where a listed name
  // may be one an output has taken or is about to take.
  bool IsSourceFolder() const {
    if (destination_ == nullptr) return false;
    try {
      const FileIdentity source = source_->Identity();
      const FileIdentity destination = destination_->Identity();
      if (source.Known() && destination.Known()) return source == destination;
    } catch (const Error&) {
      // Told by the texts instead.
    }
    return files_.NameKey(source_text_) == files_.NameKey(destination_text_);
  }

  bool StopRequested() const { return stop_ != nullptr && stop_->load(std::memory_order_relaxed); }

  // Stages one file's output; a failure of any kind, running out of memory
  // too, fails that file alone.
  void Convert(const std::u16string& entry) {
    ListedFile pending = StageOrFail(entry);
    // The outputs in hand hold room on the disk and descriptors: once they
    // have their names, a file that ran short gets a second chance alone,
    // as it would have had in a group of one.
    if (pending.failure && group_files_ > 0 && IsShortOfRoom(pending.failure)) {
      CommitGroup();
      pending = StageOrFail(entry);
    }
    Record(std::move(pending));
  }

  // Counts the file and has it told in its turn.
  void Record(ListedFile file) {
    if (file.passed_over == nullptr) ++tally_.attempted;
    const bool staged = file.output != nullptr;
    // Nothing before it left to tell: nothing to wait for.
    if (queue_.AllTold() && !staged) {
      queue_.Tell(file);
      return;
    }
    queue_.Add(std::move(file));
    if (staged) ++group_files_;
  }

  ListedFile StageOrFail(const std::u16string& entry) {
    ListedFile pending;
    pending.entry = entry;
    pending.step = BatchStep::kCheckName;
    try {
      Stage(pending);
    } catch (const Error&) {
      pending.output.reset();
      pending.failure = std::current_exception();
    } catch (const std::bad_alloc&) {
      pending.output.reset();
      pending.failure = std::current_exception();
    }
    return pending;
  }

  // Reads, scales and stages the listed file; throws for one that fails.
  void Stage(ListedFile& pending) {
    CheckPlainName(pending.entry);
    // The listed file may be one that an output in hand is about to
    // replace: those outputs take their names first, and the name then
    // leads to an output of this run, as it would have without grouping.
    if (outputs_.IsAboutToBeNamed(pending.entry)) CommitGroup();
    pending.step = BatchStep::kRead;
    std::unique_ptr<InputFile> input = OpenSource(pending);
    if (input == nullptr) return;
    FileIdentity identity = input->Identity();
    // The same by another name, such as a link into the destination.
    if (WillBeReplaced(identity)) {
      input.reset();
      CommitGroup();
      input = OpenSource(pending);
      if (input == nullptr) return;
      identity = input->Identity();
    }
    pending.passed_over = outputs_.PassOverReason(pending.entry, identity);
    if (pending.passed_over != nullptr) return;
    ScaleAndStage(pending, std::move(input), state_);
    pending.occupant_noted = outputs_.NoteStaged(pending.output_name, pending.entry, identity);
  }

  // Reads the opened file into the image of `state`, scales it and stages its
  // output; throws for a file that fails. `state` is the committer's own, or
  // a staging thread's.
  void ScaleAndStage(ListedFile& file, std::unique_ptr<InputFile> input, WindowState& state) const {
    LoadImage(*input, state.ModelWords);
    const Permissions permissions = input->PermissionBits();
    input.reset();
    file.step = BatchStep::kScale;
    ScaleHeights(state);
    file.step = BatchStep::kNameOutput;
    file.output_name = OutputName(state.DestBaseName, SuffixOf(file.entry));
    file.step = BatchStep::kWrite;
    if (destination_ == nullptr) throw FileError(destination_error_);
    file.output = destination_->OpenForReplacing(file.output_name, permissions);
    file.output->Write(state.ModelWords.Bytes());
  }

  // Opens the listed file; nullptr, with the reason it is passed over, for a
  // link that leads to no file. Such a link may lead to an output in hand
  // once that takes its name: the outputs in hand take theirs first, and the
  // link is followed again.
  std::unique_ptr<InputFile> OpenSource(ListedFile& pending) {
    for (bool again = group_files_ > 0;; again = false) {
      try {
        return source_->OpenForReading(pending.entry);
      } catch (const FileError& error) {
        if (error.Problem() != FileProblem::kLeadsNowhere) throw;
      }
      if (!again) {
        pending.passed_over = kPassedOverLeadsNowhere;
        return nullptr;
      }
      CommitGroup();
    }
  }

  // Whether the file is one that an output in hand is about to replace, and
  // so an output of this run by the time a group of one would reach it. What
  // the outputs replace is looked up only when a file on the destination's
  // volume asks, and once per output.
  bool WillBeReplaced(const FileIdentity& identity) {
    if (!identity.Known() || group_files_ == 0) return false;
    if (destination_volume_ && *destination_volume_ != identity.volume) return false;
    queue_.VisitNewInGroup([&](const ListedFile& staged) {
      if (staged.output == nullptr || staged.occupant_noted) return;
      outputs_.NoteReplaced(destination_->IdentityAt(staged.output_name));
    });
    return outputs_.IsAboutToBeReplaced(identity);
  }

  // Gives every staged output of the group its name, in listing order, once
  // the destination has brought them all to the disk. The same flush brings
  // the names the group before took there: the files of that group are
  // settled and told by its answer.
  void CommitGroup() {
    if (group_files_ > 0) Settle(Flush());
    queue_.NameGroup([&](ListedFile& pending) {
      if (pending.output != nullptr) Name(pending);
    });
    outputs_.GroupNamed();
    group_files_ = 0;
    epoch_.fetch_add(1, std::memory_order_release);
  }

  // Gives the staged output of `pending` its name; it fails alone.
  void Name(ListedFile& pending) {
    try {
      // A file written must be remembered: the memory for that is taken
      // before its output takes its name.
      std::u16string key = outputs_.MakeRoomForWritten(pending.output_name);
      outputs_.NoteWritten(pending.output->Commit(), std::move(key));
      pending.named = true;
    } catch (const Error&) {
      pending.failure = std::current_exception();
    } catch (const std::bad_alloc&) {
      pending.failure = std::current_exception();
    }
    pending.output.reset();
  }

  // At the run's end, one more flush brings the last names to the disk.
  void ConfirmLastNames() { Settle(queue_.AnyAwaitingConfirmation() ? Flush() : nullptr); }

  // Flushes the destination; why the names given before may not be on the
  // disk, if they may not.
  std::exception_ptr Flush() {
    try {
      destination_->FlushStaged();
    } catch (const Error&) {
      return std::current_exception();
    }
    return nullptr;
  }

  // Settles and tells the files whose names the last flush covered.
  void Settle(const std::exception_ptr& names_error) {
    queue_.Settle(names_error, tally_, flush_error_);
  }

  WindowState& state_;
  FileSystem& files_;
  const std::u16string source_text_;
  const std::u16string destination_text_;
  const std::atomic<bool>* stop_;
  const std::size_t jobs_;
  // How many times a group has taken its names; read by worker threads.
  std::atomic<std::uint64_t> epoch_{0};
  std::unique_ptr<Folder> source_;
  std::unique_ptr<Folder> destination_;
  std::optional<std::uint64_t> destination_volume_;
  std::string destination_error_;
  std::string flush_error_;  // why names the run gave may not be on the disk
  RunTally tally_;
  RunOutputs outputs_{files_};
  // Listed files whose fate the observer has not heard yet.
  ListingOrderQueue queue_;
  std::size_t group_files_ = 0;  // outputs staged in the group in hand
  std::size_t group_capacity_ = 1;
};

}  // namespace

BatchOutcome RunBatch(WindowState& state, FileSystem& files, std::u16string_view source,
                      std::u16string_view destination, BatchObserver* observer,
                      const std::atomic<bool>* stop, std::size_t jobs) {
  return Run(state, files, source, destination, observer, stop, jobs == 0 ? 1 : jobs).Execute();
}

std::size_t DefaultJobs() {
  constexpr std::size_t kMostJobs = 8;
  const std::size_t processors = std::thread::hardware_concurrency();
  return std::clamp<std::size_t>(processors, 1, kMostJobs);
}

}  // namespace vendrake::engine
