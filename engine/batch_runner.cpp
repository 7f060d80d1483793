#include "engine/batch_runner.h"

#include <new>
#include <utility>

#include "engine/listed_source.h"
#include "engine/output_naming.h"
#include "engine/scale_heights.h"

namespace vendrake::engine {
namespace {

constexpr char kPassedOverLeadsNowhere[] = "it is a link to a file that does not exist";
constexpr char kPassedOverSetAside[] =
    "it is an output a stopped run left behind, set aside for you to look at and rename";

bool IsShortOfRoom(const std::exception_ptr& failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const FileError& error) {
    return error.Problem() == FileProblem::kShortOfRoom;
  } catch (...) {
    return false;
  }
}

}  // namespace

void BatchRunner::Convert(const std::u16string& entry) {
  ListedFile pending = StageOrFail(entry);
  // The outputs in hand, and those staged ahead for later files, hold room
  // on the disk and descriptors: once the first have their names and the
  // others are dropped, a file that ran short gets a second chance alone,
  // as it would have had in a group of one.
  if (pending.failure && IsShortOfRoom(pending.failure)) {
    const bool held_ahead = drop_files_ahead_ && drop_files_ahead_();
    if (group_files_ > 0 || held_ahead) {
      CommitGroup();
      pending = StageOrFail(entry);
    }
  }
  Record(std::move(pending));
}

void BatchRunner::Record(ListedFile file) {
  if (file.no_normal_file) return;
  if (file.passed_over == nullptr) ++tally_.attempted;
  if (observer_ != nullptr) observer_->FileTaken();
  const bool staged = file.output != nullptr;
  // Nothing before it left to tell: nothing to wait for.
  if (queue_.AllTold() && !staged) {
    queue_.Tell(file);
    return;
  }
  queue_.Add(std::move(file));
  if (staged) ++group_files_;
}

ListedFile BatchRunner::StageOrFail(const std::u16string& entry) {
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

void BatchRunner::Stage(ListedFile& pending) {
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

void BatchRunner::ScaleAndStage(ListedFile& file, std::unique_ptr<InputFile> input,
                                WindowState& state) const {
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

std::unique_ptr<InputFile> BatchRunner::OpenSource(ListedFile& pending) {
  for (bool again = group_files_ > 0;; again = false) {
    try {
      return source_->OpenForReading(pending.entry);
    } catch (const FileError& error) {
      if (error.Problem() == FileProblem::kSetAside) {
        pending.passed_over = kPassedOverSetAside;
        return nullptr;
      }
      if (error.Problem() != FileProblem::kLeadsNowhere &&
          error.Problem() != FileProblem::kLeadsToNoNormalFile) {
        throw;
      }
      if (!again) {
        if (error.Problem() == FileProblem::kLeadsNowhere) {
          pending.passed_over = kPassedOverLeadsNowhere;
        } else {
          pending.no_normal_file = true;
        }
        return nullptr;
      }
    }
    CommitGroup();
  }
}

bool BatchRunner::WillBeReplaced(const FileIdentity& identity) {
  if (!identity.Known() || group_files_ == 0 || destination_was_empty_) return false;
  if (destination_volume_ && *destination_volume_ != identity.volume) return false;
  queue_.VisitNewInGroup([&](const ListedFile& staged) {
    if (staged.output == nullptr || staged.occupant_noted) return;
    outputs_.NoteReplaced(destination_->IdentityAt(staged.output_name));
  });
  return outputs_.IsAboutToBeReplaced(identity);
}

void BatchRunner::CommitGroup() {
  if (group_files_ > 0) Settle(Flush());
  queue_.NameGroup([&](ListedFile& pending) {
    if (pending.output != nullptr) Name(pending);
  });
  outputs_.GroupNamed();
  group_files_ = 0;
  epoch_.fetch_add(1, std::memory_order_release);
}

void BatchRunner::Name(ListedFile& pending) {
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

std::exception_ptr BatchRunner::Flush() {
  try {
    destination_->FlushStaged();
  } catch (const Error&) {
    return std::current_exception();
  }
  return nullptr;
}

void BatchRunner::Settle(const std::exception_ptr& names_error) {
  queue_.Settle(names_error, tally_, flush_error_);
}

}  // namespace vendrake::engine
