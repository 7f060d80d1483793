#include "engine/batch_runner.h"

#include <deque>
#include <new>
#include <utility>

#include "engine/listed_source.h"

namespace vendrake::engine {

void BatchRunner::ConvertOverlapped(FolderListing& listing, std::u16string entry, std::size_t ahead,
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
  // Forgotten before the files ahead and the pool go, however this ends.
  struct Forget {
    std::function<bool()>& drop;
    ~Forget() { drop = nullptr; }
  } forget{drop_files_ahead_};
  drop_files_ahead_ = [&] {
    bool held = false;
    // The first is the file in hand.
    for (std::size_t k = 1; k < files_ahead.size(); ++k) {
      FileAhead& file = *files_ahead[k];
      pool.WaitFor(file);
      if (file.file.output == nullptr) continue;
      file.file.output.reset();
      file.redo = true;
      held = true;
    }
    return held;
  };
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

void BatchRunner::StageAhead(FileAhead& ahead, WindowState& state) {
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
    // What the output will replace, looked up here rather than by the
    // committer, whose every request keeps the next output waiting. The
    // files a run lists are on the source's volume, unless a link leads
    // elsewhere: where that is not the destination's, no file asks.
    if (look_up_occupants_ahead_) {
      ahead.occupant = destination_->IdentityAt(file.output_name);
      ahead.occupant_known = true;
    }
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

void BatchRunner::TakeUp(FileAhead& ahead) {
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
    if (ahead.occupant_known && !file.occupant_noted) {
      outputs_.NoteReplaced(ahead.occupant);
      file.occupant_noted = true;
    }
  }
  Record(std::move(file));
}

}  // namespace vendrake::engine
