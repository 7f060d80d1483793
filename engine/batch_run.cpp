#include "engine/batch_run.h"

#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <unordered_set>
#include <utility>

#include "engine/folder_text.h"
#include "engine/output_naming.h"
#include "engine/scale_heights.h"
#include "engine/text_encoding.h"

namespace vendrake::engine {
namespace {

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

// Every file a run has written, by identity: however a later name reaches
// one of them, it is not taken up again. A file written must be remembered,
// so the memory for it is taken before its output takes its name, when
// running out still just fails that file.
class WrittenFiles {
 public:
  bool Contains(const FileIdentity& identity) const { return files_.contains(identity); }

  // Makes sure Add allocates nothing; throws std::bad_alloc otherwise.
  void MakeRoom() {
    if (spare_.empty()) {
      Set one{FileIdentity{}};
      spare_ = one.extract(one.begin());
    }
    // An insert that keeps within the load factor never rehashes; growing
    // in steps keeps rehashing rare.
    const auto needed = static_cast<float>(files_.size() + 1);
    if (needed > files_.max_load_factor() * static_cast<float>(files_.bucket_count())) {
      files_.reserve(2 * (files_.size() + 1));
    }
  }
  // Remembers `identity` in the room MakeRoom made.
  void Add(const FileIdentity& identity) {
    spare_.value() = identity;
    auto inserted = files_.insert(std::move(spare_));
    if (!inserted.inserted) spare_ = std::move(inserted.node);
  }

 private:
  using Set = std::unordered_set<FileIdentity, FileIdentityHash>;
  Set files_;
  Set::node_type spare_;
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
    try {
      ConvertAll(outcome);
    } catch (const std::bad_alloc&) {
      // Outside any one file: in the listing, or in telling the observer.
      outcome.out_of_memory = true;
    }
    outcome.tally = tally_;
    return outcome;
  }

 private:
  void ConvertAll(BatchOutcome& outcome) {
    state_.DestBaseName = DeriveDestBaseName(destination_text_);
    OpenDestination();

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

    for (;;) {
      if (StopRequested()) {
        outcome.interrupted = true;
        break;
      }
      Convert(entry);
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
  // Each step may fail alone; without a folder, every write fails.
  void OpenDestination() {
    try {
      files_.CreateFolder(destination_text_);
    } catch (const Error&) {
      // Usually the folder exists already.
    }
    try {
      destination_ = files_.OpenFolder(destination_text_);
    } catch (const Error& error) {
      destination_error_ = error.what();
      return;
    }
    try {
      destination_->RemoveAbandonedStaging();
    } catch (const Error&) {
      // Left for a later run; the outputs do not depend on it.
    }
  }

  bool StopRequested() const { return stop_ != nullptr && stop_->load(std::memory_order_relaxed); }

  // Converts one file; a failure of any kind fails that file alone. Only
  // the observer is told outside, so that what it throws is no file's.
  void Convert(const std::u16string& entry) {
    BatchStep step = BatchStep::kCheckName;
    bool counted = false;
    std::u16string name;
    try {
      CheckPlainName(entry);
      step = BatchStep::kRead;
      std::unique_ptr<InputFile> input = source_->OpenForReading(entry);
      // A name that leads to a file this run wrote (the destination is the
      // source folder, or a link points into it) is no new model.
      if (written_.Contains(input->Identity())) return;
      ++tally_.attempted;
      counted = true;
      LoadImage(*input, state_.ModelWords);
      const Permissions permissions = input->PermissionBits();
      input.reset();

      step = BatchStep::kScale;
      ScaleHeights(state_);
      step = BatchStep::kNameOutput;
      name = OutputName(state_.DestBaseName, SuffixOf(entry));
      step = BatchStep::kWrite;
      if (destination_ == nullptr) throw FileError(destination_error_);
      written_.MakeRoom();
      const auto output = destination_->OpenForReplacing(name, permissions);
      output->Write(state_.ModelWords.Bytes());
      written_.Add(output->Commit());
      ++tally_.succeeded;
    } catch (const Error& error) {
      Failed(entry, step, counted, error);
      return;
    } catch (const std::bad_alloc&) {
      Failed(entry, step, counted, out_of_memory_);
      return;
    }
    if (observer_ != nullptr) observer_->FileWritten(entry, destination_text_ + name);
  }

  void Failed(const std::u16string& entry, BatchStep step, bool counted, const Error& error) {
    if (!counted) ++tally_.attempted;
    if (observer_ != nullptr) observer_->FileFailed(entry, step, error);
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
  WrittenFiles written_;
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
