#pragma once

#include <cstddef>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "engine/batch_run.h"
#include "engine/errors.h"
#include "engine/file_system.h"

namespace vendrake::engine {

// One listed file on its way through a run.
struct ListedFile {
  std::u16string entry;
  std::u16string output_name;          // empty unless staged
  std::unique_ptr<OutputFile> output;  // staged, waiting for its name
  bool named = false;                  // its output has its name; the disk has yet to say
  bool occupant_noted = false;         // what its output replaces is known to the run
  BatchStep step = BatchStep::kWrite;  // where it failed, with `failure`
  std::exception_ptr failure;          // an Error or std::bad_alloc, when it failed already
  const char* passed_over = nullptr;   // why it was not tried, if it was not
  bool no_normal_file = false;         // a link to no normal file: as if never listed
};

// The listed files whose fate the observer has yet to hear, in listing
// order: first those whose outputs have taken their names and wait for the
// disk to confirm them, then the group in hand. The observer hears of every
// file once, in listing order, and of a written one only once the disk has
// confirmed its name.
class ListingOrderQueue {
 public:
  ListingOrderQueue(BatchObserver* observer, std::u16string destination_text);

  // Whether the observer has heard of every file so far.
  bool AllTold() const { return told_ == files_.size(); }
  // Tells the observer what became of `file`, which waits for nothing.
  void Tell(const ListedFile& file) const;
  // Adds a file to the group in hand.
  void Add(ListedFile file) { files_.push_back(std::move(file)); }

  // Runs `visit` on each file of the group in hand it has not run on yet.
  template <typename Visit>
  void VisitNewInGroup(Visit visit) {
    for (; visited_upto_ < files_.size(); ++visited_upto_) visit(files_[visited_upto_]);
  }
  // Runs `name` on each file of the group in hand, in listing order and
  // once each, even when one throws and the rest are named by a later call;
  // the group then waits for the disk to confirm its names.
  template <typename Name>
  void NameGroup(Name name) {
    while (named_upto_ < files_.size()) name(files_[named_upto_++]);
    group_begin_ = visited_upto_ = files_.size();
  }

  // Whether an output waits for the disk to confirm its name.
  bool AnyAwaitingConfirmation() const;
  // Settles every file before the group in hand by the answer of the flush
  // that covered their names: an output whose name was confirmed counts in
  // `tally`, one whose name was not fails with `names_error`, whose text
  // `flush_error` keeps if it has none yet. Then tells the observer of them.
  void Settle(const std::exception_ptr& names_error, RunTally& tally, std::string& flush_error);

 private:
  BatchObserver* observer_;
  std::u16string destination_text_;
  // From the first file the observer has not heard of: [told_, group_begin_)
  // wait for the disk, the rest is the group in hand.
  std::vector<ListedFile> files_;
  std::size_t told_ = 0;
  std::size_t group_begin_ = 0;
  std::size_t named_upto_ = 0;
  std::size_t visited_upto_ = 0;
  // Made while there is memory, for the files that find none.
  const OutOfMemoryError out_of_memory_;
};

}  // namespace vendrake::engine
