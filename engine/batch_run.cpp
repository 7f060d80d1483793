#include "engine/batch_run.h"

#include <memory>
#include <string>
#include <unordered_set>

#include "engine/output_naming.h"
#include "engine/scale_heights.h"
#include "engine/text_encoding.h"

namespace vendrake::engine {
namespace {

// Reads the whole file into `image`, trailing bytes included.
void LoadImage(FileSystem& files, const std::u16string& path, WordImage& image) {
  const auto input = files.OpenForReading(path);
  const std::uint64_t length = input->Length();
  if (length < 4) {
    throw SubscriptError("the file holds " + std::to_string(length) + " bytes, no whole word");
  }
  // An image the pass cannot index fails there whatever it holds; refusing it
  // here spares reading a file of any size into memory.
  CheckImageFits(static_cast<std::int64_t>(length / 4));
  image.Resize(static_cast<std::size_t>(length));
  input->Read(image.MutableBytes());
}

void StoreImage(FileSystem& files, const std::u16string& path, const WordImage& image) {
  const auto output = files.OpenForReplacing(path);
  output->Write(image.Bytes());
  output->Commit();
}

class Run {
 public:
  Run(WindowState& state, FileSystem& files, std::u16string_view source,
      std::u16string_view destination, BatchObserver* observer, const std::atomic<bool>* stop)
      : state_(state),
        files_(files),
        source_(source),
        destination_(destination),
        observer_(observer),
        stop_(stop) {}

  BatchOutcome Execute() {
    state_.DestBaseName = DeriveDestBaseName(destination_);
    try {
      files_.CreateFolder(destination_);
    } catch (const Error&) {
      // Usually the folder exists already; if it cannot be made, every write fails.
    }
    // Only then can outputs turn up in the listing being read.
    writes_into_source_ = files_.IsSameFolder(source_, destination_);

    BatchOutcome outcome;
    std::unique_ptr<FolderListing> listing;
    std::u16string entry;
    try {
      listing = files_.ListNormalFiles(source_);
      entry = listing->Next();
    } catch (const Error& error) {
      // A missing or unreadable folder reads as an empty one.
      outcome.listing_error = error.what();
    }
    if (entry.empty()) {
      outcome.kind = BatchOutcome::Kind::kSourceEmpty;
      return outcome;
    }

    for (;;) {
      if (StopRequested()) {
        outcome.interrupted = true;
        break;
      }
      if (!written_names_.contains(entry)) Convert(entry);
      try {
        entry = listing->Next();
      } catch (const Error& error) {
        outcome.listing_error = error.what();
        break;
      }
      if (entry.empty() || entry == u"." || entry == u"..") break;
    }
    outcome.tally = tally_;
    return outcome;
  }

 private:
  bool StopRequested() const { return stop_ != nullptr && stop_->load(std::memory_order_relaxed); }

  void Convert(const std::u16string& entry) {
    ++tally_.attempted;
    BatchStep step = BatchStep::kCheckName;
    try {
      if (entry.find_first_of(u"\\/") != std::u16string::npos) {
        throw FileError("the name holds a path separator: " + Utf16ToUtf8(entry));
      }
      step = BatchStep::kRead;
      LoadImage(files_, source_ + entry, state_.ModelWords);
      step = BatchStep::kScale;
      ScaleHeights(state_);
      step = BatchStep::kNameOutput;
      const std::u16string suffix = SuffixOf(entry);
      step = BatchStep::kWrite;
      const std::u16string output_path = destination_ + state_.DestBaseName + suffix;
      StoreImage(files_, output_path, state_.ModelWords);
      ++tally_.succeeded;
      if (writes_into_source_) written_names_.insert(OutputName(state_.DestBaseName, suffix));
      if (observer_ != nullptr) observer_->FileWritten(entry, output_path);
    } catch (const Error& error) {
      if (observer_ != nullptr) observer_->FileFailed(entry, step, error);
    }
  }

  WindowState& state_;
  FileSystem& files_;
  const std::u16string source_;
  const std::u16string destination_;
  BatchObserver* observer_;
  const std::atomic<bool>* stop_;
  RunTally tally_;
  bool writes_into_source_ = false;
  // Names of outputs written into the source folder itself, which its
  // listing may yield again.
  std::unordered_set<std::u16string> written_names_;
};

}  // namespace

BatchOutcome RunBatch(WindowState& state, FileSystem& files, std::u16string_view source,
                      std::u16string_view destination, BatchObserver* observer,
                      const std::atomic<bool>* stop) {
  return Run(state, files, source, destination, observer, stop).Execute();
}

}  // namespace vendrake::engine
