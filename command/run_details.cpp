#include "command/run_details.h"

#include <algorithm>
#include <utility>

#include "command/failure_reason.h"
#include "engine/text_encoding.h"

namespace vendrake::command {
namespace {

// A name or a detail may hold a line break or another control character,
// which would break its line in two or vanish; each shows as U+FFFD.
std::u16string OneLine(std::u16string text) {
  std::replace_if(
      text.begin(), text.end(),
      [](char16_t unit) { return unit < 0x20 || (unit >= 0x7F && unit <= 0x9F); }, u'\uFFFD');
  return text;
}

std::u16string Detail(std::string_view bytes) { return OneLine(engine::Utf8ToUtf16(bytes)); }

}  // namespace

void RunDetails::Keep(std::u16string line) {
  if (lines_.size() < kMostDetailLines) {
    lines_.push_back(OneLine(std::move(line)));
  } else {
    ++left_out_;
  }
}

void RunDetails::FileWritten(std::u16string_view entry, std::u16string_view output_path) {
  if (inner_ != nullptr) inner_->FileWritten(entry, output_path);
}

void RunDetails::FileFailed(std::u16string_view entry, engine::BatchStep step,
                            const engine::Error& error) {
  Keep(std::u16string(entry) + u": failed: " + FailureText(entry, step, error));
  if (inner_ != nullptr) inner_->FileFailed(entry, step, error);
}

void RunDetails::FilePassedOver(std::u16string_view entry, std::string_view reason) {
  Keep(std::u16string(entry) + u": passed over: " + engine::Utf8ToUtf16(reason));
  if (inner_ != nullptr) inner_->FilePassedOver(entry, reason);
}

void RunDetails::DestinationUnusable(std::string_view reason) {
  if (inner_ != nullptr) inner_->DestinationUnusable(reason);
}

std::u16string RunDetails::Text(const engine::BatchOutcome& run) const {
  std::u16string text;
  const auto line = [&text](const std::u16string& one) { text += one + u"\n"; };
  if (!run.destination_error.empty()) {
    line(u"No output can be written, the destination folder cannot be opened (" +
         Detail(run.destination_error) + u")");
  }
  for (const std::u16string& file : lines_) line(file);
  if (left_out_ > 0) {
    line(u"and " + engine::Utf8ToUtf16(std::to_string(left_out_)) + u" more, not listed");
  }
  if (!run.flush_error.empty()) {
    line(u"The last outputs' names may not survive a crash (" + Detail(run.flush_error) + u")");
  }
  if (!run.listing_error.empty()) {
    line(u"The listing of the source folder broke off, later files were not tried (" +
         Detail(run.listing_error) + u")");
  }
  if (run.out_of_memory) line(u"Out of memory, later files were not tried");
  if (!text.empty()) text.pop_back();
  return text;
}

}  // namespace vendrake::command
