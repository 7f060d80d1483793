#include "engine/listing_order_queue.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <utility>

namespace vendrake::engine {

ListingOrderQueue::ListingOrderQueue(BatchObserver* observer, std::u16string destination_text)
    : observer_(observer),
      destination_text_(std::move(destination_text)),
      out_of_memory_(std::strerror(ENOMEM)) {}

void ListingOrderQueue::Tell(const ListedFile& file) const {
  if (observer_ == nullptr) return;
  if (file.passed_over != nullptr) {
    observer_->FilePassedOver(file.entry, file.passed_over);
  } else if (file.failure) {
    try {
      std::rethrow_exception(file.failure);
    } catch (const Error& error) {
      observer_->FileFailed(file.entry, file.step, error);
    } catch (const std::bad_alloc&) {
      observer_->FileFailed(file.entry, file.step, out_of_memory_);
    }
  } else {
    observer_->FileWritten(file.entry, destination_text_ + file.output_name);
  }
}

bool ListingOrderQueue::AnyAwaitingConfirmation() const {
  const auto begin = files_.begin() + static_cast<std::ptrdiff_t>(told_);
  const auto end = files_.begin() + static_cast<std::ptrdiff_t>(group_begin_);
  return std::any_of(begin, end, [](const ListedFile& file) { return file.named; });
}

void ListingOrderQueue::Settle(const std::exception_ptr& names_error, RunTally& tally,
                               std::string& flush_error) {
  // Every fate is decided before any is told, so that telling one can run out
  // of memory without the others' being decided by a later flush.
  for (std::size_t k = told_; k < group_begin_; ++k) {
    ListedFile& file = files_[k];
    if (!file.named) continue;
    file.named = false;
    if (!names_error) {
      ++tally.succeeded;
      continue;
    }
    file.step = BatchStep::kConfirm;
    file.failure = names_error;
    if (flush_error.empty()) {
      try {
        std::rethrow_exception(names_error);
      } catch (const Error& error) {
        flush_error = error.what();
      }
    }
  }
  // Each is told once, even when telling one runs out of memory and the rest
  // are told later.
  while (told_ < group_begin_) Tell(files_[told_++]);
  // The files told are dropped. A group's names wait for the next group's
  // flush, so the queue is seldom all told at this point; without this it
  // would keep every file of a long run.
  files_.erase(files_.begin(), files_.begin() + static_cast<std::ptrdiff_t>(told_));
  group_begin_ -= told_;
  named_upto_ -= told_;
  visited_upto_ -= told_;
  told_ = 0;
}

}  // namespace vendrake::engine
