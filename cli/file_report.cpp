#include "cli/file_report.h"

#include <charconv>
#include <iterator>

#include "cli/line_escape.h"
#include "command/failure_reason.h"
#include "command/messages.h"
#include "engine/native_path.h"
#include "engine/text_encoding.h"

namespace vendrake::cli {

using engine::BatchStep;

std::u16string FailureText(std::u16string_view entry, BatchStep step, const engine::Error& error) {
  return EscapeForLine(command::FailureText(entry, step, error));
}

void FileReport::Written(std::u16string_view entry, std::u16string_view output_path,
                         std::u16string_view replaced) {
  if (!files_) return;
  out_ << engine::Utf16ToUtf8(EscapeForLine(entry)) << " -> "
       << engine::Utf16ToUtf8(EscapeForLine(engine::DisplayPath(output_path)));
  if (!replaced.empty()) {
    out_ << " (replaces the output of " << engine::Utf16ToUtf8(EscapeForLine(replaced)) << ")";
  }
  out_ << '\n';
}

void FileReport::Failed(std::u16string_view entry, BatchStep step, const engine::Error& error) {
  if (!files_) return;
  out_ << engine::Utf16ToUtf8(EscapeForLine(entry) + u": failed: " +
                              FailureText(entry, step, error))
       << '\n';
}

void FileReport::PassedOver(std::u16string_view entry, std::string_view reason) {
  if (!files_) return;
  out_ << engine::Utf16ToUtf8(EscapeForLine(entry)) << ": passed over: " << reason << '\n';
}

void FileReport::Summary(const FolderSummary& summary, bool several) {
  // Why a run did not finish goes to standard error, beside its cause.
  if (!summary.finished) return;
  const std::string folder =
      several ? engine::Utf16ToUtf8(EscapeForLine(summary.folder)) + ": " : "";
  out_ << folder << engine::Utf16ToUtf8(summary.message);
  if (summary.dry_run) out_ << " Dry run: nothing was written.";
  out_ << '\n';
  if (summary.heights_before && summary.heights_after) {
    out_ << folder << "Heights of " << summary.heights_before->count << " vertices: from "
         << ShortestText(summary.heights_before->least) << " to "
         << ShortestText(summary.heights_before->most) << " before, from "
         << ShortestText(summary.heights_after->least) << " to "
         << ShortestText(summary.heights_after->most) << " after.\n";
  }
}

void FileReport::Total(const engine::RunTally& total, std::int64_t folders, bool dry_run) {
  out_ << "Total of " << folders
       << " folders: " << engine::Utf16ToUtf8(command::SummaryMessage(total));
  if (dry_run) out_ << " Dry run: nothing was written.";
  out_ << '\n';
}

std::string ShortestText(float value) {
  char text[32];
  const auto result = std::to_chars(std::begin(text), std::end(text), value);
  return std::string(text, result.ptr);
}

}  // namespace vendrake::cli
