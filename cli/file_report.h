#pragma once

#include <ostream>
#include <string>
#include <string_view>

#include "engine/batch_run.h"

namespace vendrake::cli {

// command::FailureText, escaped for one line (see line_escape.h).
std::u16string FailureText(std::u16string_view entry, engine::BatchStep step,
                           const engine::Error& error);

// Prints one line per file as the run goes: "name -> output path" for a file
// written, "name: failed: " and its FailureText for one that was not, and
// "name: passed over: " and the reason for a name that leads to an output of
// the run. Names and paths are escaped, so every file gives exactly one line.
class FileReport : public engine::BatchObserver {
 public:
  explicit FileReport(std::ostream& out) : out_(out) {}

  void FileWritten(std::u16string_view entry, std::u16string_view output_path) override;
  void FileFailed(std::u16string_view entry, engine::BatchStep step,
                  const engine::Error& error) override;
  void FilePassedOver(std::u16string_view entry, std::string_view reason) override;

 private:
  std::ostream& out_;
};

}  // namespace vendrake::cli
