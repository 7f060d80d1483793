#include "engine/batch_run.h"

#include <algorithm>
#include <new>
#include <utility>

#include "engine/batch_runner.h"
#include "engine/listed_source.h"
#include "engine/output_naming.h"

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

}  // namespace

BatchOutcome BatchRunner::Execute() {
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

void BatchRunner::ConvertAll(BatchOutcome& outcome) {
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
    look_up_occupants_ahead_ = !destination_was_empty_ && !IsOnOtherVolume(*source_);
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

void BatchRunner::OpenDestination() {
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
    if (observer_ != nullptr) observer_->DestinationUnusable(destination_error_);
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
  destination_was_empty_ = destination_->IsEmpty();
}

bool BatchRunner::IsOnOtherVolume(Folder& folder) const {
  if (!destination_volume_) return false;
  try {
    const FileIdentity identity = folder.Identity();
    return identity.Known() && identity.volume != *destination_volume_;
  } catch (const Error&) {
    return false;
  }
}

bool BatchRunner::IsSourceFolder() const {
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

BatchOutcome RunBatch(WindowState& state, FileSystem& files, std::u16string_view source,
                      std::u16string_view destination, BatchObserver* observer,
                      const std::atomic<bool>* stop, std::size_t jobs) {
  if (observer != nullptr && observer->WantsFilesListed()) {
    const std::int64_t listed = CountListedFiles(files, source);
    try {
      observer->FilesListed(listed);
    } catch (const std::bad_alloc&) {
      // Showing the count is no part of the run.
    }
  }
  return BatchRunner(state, files, source, destination, observer, stop, jobs == 0 ? 1 : jobs)
      .Execute();
}

std::size_t DefaultJobs() { return 8; }

}  // namespace vendrake::engine
