#include "engine/batch_run.h"

#include <cerrno>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "engine/folder_text.h"
#include "engine/output_naming.h"
#include "engine/scale_heights.h"
#include "engine/text_encoding.h"

namespace vendrake::engine {
namespace {

// A group of staged outputs takes its names once this much is staged, so
// that the page cache holds a bounded amount of unflushed output; the
// destination's StagingCapacity bounds the count.
constexpr std::size_t kMostGroupBytes = std::size_t{128} << 20;
constexpr std::size_t kMostGroupFiles = 1024;

constexpr char kPassedOverAsWritten[] = "it is an output of this run";
constexpr char kPassedOverByName[] =
    "it has the name of an output of this run, and the volume cannot tell files apart";

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

// A set that can take one more value without allocating: MakeRoom takes the
// memory beforehand, while running out of it can still fail the file in hand,
// and Insert then cannot fail once that file's output has taken its name.
template <typename Value, typename Hash = std::hash<Value>>
class RoomySet {
 public:
  bool contains(const Value& value) const { return values_.contains(value); }

  // Allocates what the next Insert needs; throws std::bad_alloc.
  void MakeRoom() {
    if (spare_.empty()) {
      Set one{Value{}};
      spare_ = one.extract(one.begin());
    }
    // An insert that keeps within the load factor never rehashes; growing in
    // steps keeps rehashing rare.
    const auto needed = static_cast<float>(values_.size() + 1);
    if (needed > values_.max_load_factor() * static_cast<float>(values_.bucket_count())) {
      values_.reserve(2 * (values_.size() + 1));
    }
  }
  // Inserts `value` in the room MakeRoom made, allocating nothing.
  void Insert(Value value) {
    spare_.value() = std::move(value);
    auto inserted = values_.insert(std::move(spare_));
    if (!inserted.inserted) spare_ = std::move(inserted.node);
  }

 private:
  using Set = std::unordered_set<Value, Hash>;
  Set values_;
  typename Set::node_type spare_;
};

// One listed file whose fate the observer has not heard yet: it waits for
// the outputs staged before it to take their names.
struct Pending {
  std::u16string entry;
  std::u16string output_name;          // empty unless staged
  std::unique_ptr<OutputFile> output;  // staged, waiting for its name
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
      outcome.flush_error = FlushNames();
    });
    outcome.tally = tally_;
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
      if (group_files_ >= group_capacity_ || group_bytes_ >= kMostGroupBytes) CommitGroup();
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
    if (pending.passed_over == nullptr) ++tally_.attempted;
    const bool staged = pending.output != nullptr;
    // Nothing staged before it: nothing to wait for.
    if (group_files_ == 0 && !staged) {
      Tell(pending);
      return;
    }
    group_.push_back(std::move(pending));
    if (staged) {
      ++group_files_;
      group_bytes_ += state_.ModelWords.Bytes().size();
    }
  }

  // Reads, scales and stages the listed file; throws for one that fails.
  void Stage(Pending& pending) {
    CheckPlainName(pending.entry);
    // The listed file may be one that an output in hand is about to
    // replace: those outputs take their names first, and the name then
    // leads to an output of this run, as it would have without grouping.
    if (in_place_ && pending_keys_.contains(files_.NameKey(pending.entry))) CommitGroup();
    pending.step = BatchStep::kRead;
    std::unique_ptr<InputFile> input = source_->OpenForReading(pending.entry);
    FileIdentity identity = input->Identity();
    // The same by another name, such as a link.
    if (identity.Known() && pending_occupants_.contains(identity)) {
      input.reset();
      CommitGroup();
      input = source_->OpenForReading(pending.entry);
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
    if (in_place_) NoteOccupant(pending, identity);
    pending.output = destination_->OpenForReplacing(pending.output_name, permissions);
    pending.output->Write(state_.ModelWords.Bytes());
  }

  // Notes, in a run in place, which file the staged output of `pending` is to
  // replace, so that no later name reaches that file before it is replaced.
  // An output usually replaces the very file it was made from, whose
  // identity is `input`; otherwise the file at its name is looked at, and a
  // link there is followed, which can only make the group commit early.
  void NoteOccupant(const Pending& pending, const FileIdentity& input) {
    std::u16string key = files_.NameKey(pending.output_name);
    const bool replaces_its_source = key == files_.NameKey(pending.entry);
    pending_keys_.insert(std::move(key));
    if (replaces_its_source) {
      if (input.Known()) pending_occupants_.insert(input);
      return;
    }
    try {
      const FileIdentity occupant = destination_->OpenForReading(pending.output_name)->Identity();
      if (occupant.Known()) pending_occupants_.insert(occupant);
    } catch (const Error&) {
      // Nothing there yet, or nothing that can be read.
    }
  }

  // Why the file `entry` leads to is no new model, or nullptr if it is one.
  const char* PassOverReason(const std::u16string& entry, const FileIdentity& identity) const {
    if (identity.Known()) return written_.contains(identity) ? kPassedOverAsWritten : nullptr;
    if (in_place_ && written_keys_.contains(files_.NameKey(entry))) return kPassedOverByName;
    return nullptr;
  }

  // Gives every staged output of the group its name, in listing order, once
  // the destination has brought them all to the disk, and tells the
  // observer of each file of the group.
  void CommitGroup() {
    if (group_files_ > 0) {
      names_to_flush_ = false;
      try {
        destination_->FlushStaged();
      } catch (const Error&) {
        // Only names given earlier are in doubt, and each output below
        // still fails alone if its own contents did not reach the disk.
      }
    }
    // Each is told once, even when telling one runs out of memory and the
    // rest of the group is committed later.
    while (group_told_ < group_.size()) {
      Pending& pending = group_[group_told_++];
      if (pending.output != nullptr) {
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
          ++tally_.succeeded;
          names_to_flush_ = true;
        } catch (const Error&) {
          pending.failure = std::current_exception();
        } catch (const std::bad_alloc&) {
          pending.failure = std::current_exception();
        }
        pending.output.reset();
      }
      Tell(pending);
    }
    group_.clear();
    group_told_ = 0;
    pending_keys_.clear();
    pending_occupants_.clear();
    group_files_ = 0;
    group_bytes_ = 0;
  }

  // Brings the names the last group took to the disk; the reason, if that
  // failed.
  std::string FlushNames() {
    if (!names_to_flush_) return {};
    try {
      destination_->FlushStaged();
    } catch (const Error& error) {
      return error.what();
    }
    return {};
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
  std::string destination_error_;
  RunTally tally_;
  bool in_place_ = false;
  // Every file this run has written, by identity: however a later name
  // reaches one of them, it is not taken up again.
  RoomySet<FileIdentity, FileIdentityHash> written_;
  // In an in-place run, the names the outputs have taken and are about to
  // take, as NameKey gives them, and the files the outputs in hand are to
  // replace.
  RoomySet<std::u16string> written_keys_;
  std::unordered_set<std::u16string> pending_keys_;
  std::unordered_set<FileIdentity, FileIdentityHash> pending_occupants_;
  std::vector<Pending> group_;
  std::size_t group_told_ = 0;  // how many of the group the observer has heard of
  std::size_t group_files_ = 0;
  std::size_t group_bytes_ = 0;
  std::size_t group_capacity_ = 1;
  bool names_to_flush_ = false;
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
