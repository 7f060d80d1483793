#include "engine/batch_run.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "engine/folder_text.h"
#include "engine/output_naming.h"
#include "engine/roomy_set.h"
#include "engine/scale_heights.h"
#include "engine/text_encoding.h"

namespace vendrake::engine {
namespace {

// A group takes its names once this many outputs are staged, or fewer where
// the destination's StagingCapacity says so. Staged outputs are at most
// 131,075 bytes each, so the page cache holds at most about 128 MiB of
// unflushed output.
constexpr std::size_t kMostGroupFiles = 1024;

constexpr char kPassedOverAsWritten[] = "it is an output of this run";
constexpr char kPassedOverByName[] =
    "it has the name of an output of this run, and the volume cannot tell files apart";
constexpr char kPassedOverLeadsNowhere[] = "it is a link to a file that does not exist";

// Reads the whole file into `image`, trailing bytes included.
void LoadImage(InputFile& input, WordImage& image) {
  const std::uint64_t length = input.Length();
  if (length < 4) {
    throw SubscriptError("the file holds " + std::to_string(length) +
                         (length == 1 ? " byte" : " bytes") + ", no whole word");
  }
  // An image the pass cannot index fails there whatever it holds; refusing it
  // here spares reading a file of any size into memory.
  CheckImageFits(static_cast<std::int64_t>(length / 4));
  image.Resize(static_cast<std::size_t>(length));
  input.Read(image.MutableBytes());
}

// A listed name that would lead out of the folder: on POSIX a name may hold
// "\", which the folder texts read as a separator.
void CheckPlainName(const std::u16string& entry) {
  const auto separator = entry.find_first_of(u"\\/");
  if (separator != std::u16string::npos) {
    throw FileError("\"" + Utf16ToUtf8(entry.substr(separator, 1)) +
                    "\" in the name reads as a folder separator");
  }
}

bool IsShortOfRoom(const std::exception_ptr& failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const FileError& error) {
    return error.Problem() == FileProblem::kShortOfRoom;
  } catch (...) {
    return false;
  }
}

// One listed file whose fate the observer has not heard yet: it waits for
// the outputs staged before it to take their names, and for the disk to
// confirm those names.
struct Pending {
  std::u16string entry;
  std::u16string output_name;          // empty unless staged
  std::unique_ptr<OutputFile> output;  // staged, waiting for its name
  bool named = false;                  // its output has its name; the disk has yet to say
  bool occupant_noted = false;         // what its output replaces is known to the run
  BatchStep step = BatchStep::kWrite;  // where it failed, with `failure`
  std::exception_ptr failure;          // an Error or std::bad_alloc, when it failed already
  const char* passed_over = nullptr;   // why it was not tried, if it was not
};

class Run {
 public:
  Run(WindowState& state, FileSystem& files, std::u16string_view source,
      std::u16string_view destination, BatchObserver* observer, const std::atomic<bool>* stop)
      : state_(state),
        files_(files),
        source_text_(source),
        destination_text_(ResolveTrailingDots(destination)),
        observer_(observer),
        stop_(stop) {}

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
    in_place_ = IsSourceFolder();

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
    Pending pending = StageOrFail(entry);
    // The outputs in hand hold room on the disk and descriptors: once they
    // have their names, a file that ran short gets a second chance alone,
    // as it would have had in a group of one.
    if (pending.failure && group_files_ > 0 && IsShortOfRoom(pending.failure)) {
      CommitGroup();
      pending = StageOrFail(entry);
    }
    if (pending.passed_over == nullptr) ++tally_.attempted;
    const bool staged = pending.output != nullptr;
    // Nothing before it left to tell: nothing to wait for.
    if (told_ == queue_.size() && !staged) {
      Tell(pending);
      return;
    }
    queue_.push_back(std::move(pending));
    if (staged) ++group_files_;
  }

  Pending StageOrFail(const std::u16string& entry) {
    Pending pending;
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
  void Stage(Pending& pending) {
    CheckPlainName(pending.entry);
    // The listed file may be one that an output in hand is about to
    // replace: those outputs take their names first, and the name then
    // leads to an output of this run, as it would have without grouping.
    if (in_place_ && pending_keys_.contains(files_.NameKey(pending.entry))) CommitGroup();
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
    pending.passed_over = PassOverReason(pending.entry, identity);
    if (pending.passed_over != nullptr) return;
    LoadImage(*input, state_.ModelWords);
    const Permissions permissions = input->PermissionBits();
    input.reset();

    pending.step = BatchStep::kScale;
    ScaleHeights(state_);
    pending.step = BatchStep::kNameOutput;
    pending.output_name = OutputName(state_.DestBaseName, SuffixOf(pending.entry));
    pending.step = BatchStep::kWrite;
    if (destination_ == nullptr) throw FileError(destination_error_);
    if (in_place_) NotePendingName(pending, identity);
    pending.output = destination_->OpenForReplacing(pending.output_name, permissions);
    pending.output->Write(state_.ModelWords.Bytes());
  }

  // Opens the listed file; nullptr, with the reason it is passed over, for a
  // link that leads to no file. Such a link may lead to an output in hand
  // once that takes its name: the outputs in hand take theirs first, and the
  // link is followed again.
  std::unique_ptr<InputFile> OpenSource(Pending& pending) {
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
    for (; noted_upto_ < queue_.size(); ++noted_upto_) {
      Pending& staged = queue_[noted_upto_];
      if (staged.output == nullptr || staged.occupant_noted) continue;
      const FileIdentity occupant = destination_->IdentityAt(staged.output_name);
      if (occupant.Known()) pending_occupants_.insert(occupant);
    }
    return pending_occupants_.contains(identity);
  }

  // Notes, in a run in place, the name the staged output of `pending` is to
  // take, and the file it replaces where that is the very file it was made
  // from, whose identity is `input`.
  void NotePendingName(Pending& pending, const FileIdentity& input) {
    std::u16string key = files_.NameKey(pending.output_name);
    if (input.Known() && key == files_.NameKey(pending.entry)) {
      pending_occupants_.insert(input);
      pending.occupant_noted = true;
    }
    pending_keys_.insert(std::move(key));
  }

  // Why the file `entry` leads to is no new model, or nullptr if it is one.
  const char* PassOverReason(const std::u16string& entry, const FileIdentity& identity) const {
    if (identity.Known()) return written_.contains(identity) ? kPassedOverAsWritten : nullptr;
    if (in_place_ && written_keys_.contains(files_.NameKey(entry))) return kPassedOverByName;
    return nullptr;
  }

  // Gives every staged output of the group its name, in listing order, once
  // the destination has brought them all to the disk. The same flush brings
  // the names the group before took there: the files of that group are
  // settled and told by its answer.
  void CommitGroup() {
    if (group_files_ > 0) {
      Settle(Flush());
      // Each takes its name once, even when memory runs out part way and the
      // rest of the group is committed later.
      while (committed_upto_ < queue_.size()) {
        Pending& pending = queue_[committed_upto_++];
        if (pending.output != nullptr) Name(pending);
      }
    }
    group_begin_ = committed_upto_ = noted_upto_ = queue_.size();
    pending_keys_.clear();
    pending_occupants_.clear();
    group_files_ = 0;
  }

  // Gives the staged output of `pending` its name; it fails alone.
  void Name(Pending& pending) {
    try {
      // A file written must be remembered: the memory for that is taken
      // before its output takes its name.
      written_.MakeRoom();
      std::u16string key;
      if (in_place_) {
        key = files_.NameKey(pending.output_name);
        written_keys_.MakeRoom();
      }
      const FileIdentity identity = pending.output->Commit();
      if (identity.Known()) written_.Insert(identity);
      if (in_place_) written_keys_.Insert(std::move(key));
      pending.named = true;
    } catch (const Error&) {
      pending.failure = std::current_exception();
    } catch (const std::bad_alloc&) {
      pending.failure = std::current_exception();
    }
    pending.output.reset();
  }

  // At the run's end, one more flush brings the last names to the disk.
  void ConfirmLastNames() {
    const bool any_named = std::any_of(queue_.begin() + static_cast<std::ptrdiff_t>(told_),
                                       queue_.begin() + static_cast<std::ptrdiff_t>(group_begin_),
                                       [](const Pending& pending) { return pending.named; });
    Settle(any_named ? Flush() : nullptr);
  }

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

  // Decides, by the answer of the flush that covered their names, whether
  // the outputs named since the flush before are written: an output the
  // disk did not confirm fails with the reason. Then tells the observer of
  // every file listed before the group in hand.
  void Settle(const std::exception_ptr& names_error) {
    for (std::size_t k = told_; k < group_begin_; ++k) {
      Pending& pending = queue_[k];
      if (!pending.named) continue;
      pending.named = false;
      if (names_error) {
        pending.step = BatchStep::kConfirm;
        pending.failure = names_error;
        NoteFlushError(names_error);
      } else {
        ++tally_.succeeded;
      }
    }
    // Each is told once, even when telling one runs out of memory and the
    // rest are told later.
    while (told_ < group_begin_) Tell(queue_[told_++]);
    if (told_ == queue_.size()) {
      queue_.clear();
      told_ = group_begin_ = committed_upto_ = noted_upto_ = 0;
    }
  }

  void NoteFlushError(const std::exception_ptr& names_error) {
    if (!flush_error_.empty()) return;
    try {
      std::rethrow_exception(names_error);
    } catch (const Error& error) {
      flush_error_ = error.what();
    }
  }

  // Tells the observer what became of one listed file.
  void Tell(const Pending& pending) {
    if (observer_ == nullptr) return;
    if (pending.passed_over != nullptr) {
      observer_->FilePassedOver(pending.entry, pending.passed_over);
    } else if (pending.failure) {
      try {
        std::rethrow_exception(pending.failure);
      } catch (const Error& error) {
        observer_->FileFailed(pending.entry, pending.step, error);
      } catch (const std::bad_alloc&) {
        observer_->FileFailed(pending.entry, pending.step, out_of_memory_);
      }
    } else {
      observer_->FileWritten(pending.entry, destination_text_ + pending.output_name);
    }
  }

  WindowState& state_;
  FileSystem& files_;
  const std::u16string source_text_;
  const std::u16string destination_text_;
  BatchObserver* observer_;
  const std::atomic<bool>* stop_;
  std::unique_ptr<Folder> source_;
  std::unique_ptr<Folder> destination_;
  std::optional<std::uint64_t> destination_volume_;
  std::string destination_error_;
  std::string flush_error_;  // why names the run gave may not be on the disk
  RunTally tally_;
  bool in_place_ = false;
  // Every file this run has written, by identity: however a later name
  // reaches one of them, it is not taken up again.
  RoomySet<FileIdentity, FileIdentityHash> written_;
  // In an in-place run, the names the outputs have taken, as NameKey gives
  // them, and those the outputs in hand are about to take.
  RoomySet<std::u16string> written_keys_;
  std::unordered_set<std::u16string> pending_keys_;
  // The files the outputs in hand are to replace, as far as looked up.
  std::unordered_set<FileIdentity, FileIdentityHash> pending_occupants_;
  // Listed files in listing order, from the first the observer has not heard
  // of: [told_, group_begin_) have taken their names and wait for the disk
  // to confirm them; from group_begin_ on, the group in hand.
  std::vector<Pending> queue_;
  std::size_t told_ = 0;
  std::size_t group_begin_ = 0;
  std::size_t committed_upto_ = 0;  // the group in hand, named up to here
  std::size_t noted_upto_ = 0;      // the group in hand, occupants looked up up to here
  std::size_t group_files_ = 0;     // outputs staged in the group in hand
  std::size_t group_capacity_ = 1;
  // Made while there is memory, for the files that find none.
  const OutOfMemoryError out_of_memory_{std::strerror(ENOMEM)};
};

}  // namespace

BatchOutcome RunBatch(WindowState& state, FileSystem& files, std::u16string_view source,
                      std::u16string_view destination, BatchObserver* observer,
                      const std::atomic<bool>* stop) {
  return Run(state, files, source, destination, observer, stop).Execute();
}

}  // namespace vendrake::engine
