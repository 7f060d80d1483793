#include "cli/run_watch.h"

#include "cli/file_report.h"
#include "cli/line_escape.h"

namespace vendrake::cli {

void RunWatch::FileWritten(std::u16string_view entry, std::u16string_view output_path) {
  std::u16string& earlier = made_from_[files_.NameKey(output_path)];
  if (!earlier.empty()) ++replaced_;
  if (lines_ != nullptr) lines_->Written(entry, output_path, earlier);
  earlier = entry;
}

void RunWatch::FileFailed(std::u16string_view entry, engine::BatchStep step,
                          const engine::Error& error) {
  if (first_failure_.empty()) {
    first_failure_ = EscapeForLine(entry) + u": " + FailureText(entry, step, error);
  }
  if (lines_ != nullptr) lines_->Failed(entry, step, error);
}

void RunWatch::FilePassedOver(std::u16string_view entry, std::string_view reason) {
  if (lines_ != nullptr) lines_->PassedOver(entry, reason);
}

void RunWatch::DestinationUnusable(std::string_view reason) {
  if (progress_ != nullptr) progress_->Clear();
  err_ << error_prefix_ << "no output can be written, the destination folder cannot be opened ("
       << EscapeBytesForLine(reason) << ")\n";
}

}  // namespace vendrake::cli
