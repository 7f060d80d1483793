#pragma once

#include <ostream>
#include <string>
#include <string_view>

#include "cli/file_lines.h"
#include "engine/batch_run.h"

namespace vendrake::cli {

// command::FailureText, escaped for one line (see line_escape.h).
std::u16string FailureText(std::u16string_view entry, engine::BatchStep step,
                           const engine::Error& error);

// Prints, as lines of text on `out`, one line per file when `files` is set:
// "name -> output path" for a file written (with "(replaces the output of
// earlier)" when it took an output name an earlier file of the run had
// written), "name: failed: " and its FailureText for one that was not, and
// "name: passed over: " and the reason for a name that leads to an output of
// the run; then each folder's summary, and the total after several. Names
// and paths are escaped, so every file gives exactly one line.
class FileReport : public FileLines {
 public:
  FileReport(std::ostream& out, bool files) : out_(out), files_(files) {}

  void Written(std::u16string_view entry, std::u16string_view output_path,
               std::u16string_view replaced) override;
  void Failed(std::u16string_view entry, engine::BatchStep step,
              const engine::Error& error) override;
  void PassedOver(std::u16string_view entry, std::string_view reason) override;
  void Summary(const FolderSummary& summary, bool several) override;
  void Total(const engine::RunTally& total, std::int64_t folders, bool dry_run) override;

 private:
  std::ostream& out_;
  bool files_;
};

// `value` in the fewest digits that read back as it: 2, 0.5, -1e-50.
std::string ShortestText(float value);

}  // namespace vendrake::cli
