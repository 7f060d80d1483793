#pragma once

#include <ostream>
#include <string>

#include "engine/batch_run.h"

namespace vendrake::cli {

// The plain-words reason a file failed at `step` with an error of `kind`.
std::string FailureReason(engine::BatchStep step, engine::ErrorKind kind);

// Prints one line per file as the run goes: "name -> output path" for a file
// written, "name: failed: reason (detail)" for one that was not.
class FileReport : public engine::BatchObserver {
 public:
  explicit FileReport(std::ostream& out) : out_(out) {}

  void FileWritten(std::u16string_view entry, std::u16string_view output_path) override;
  void FileFailed(std::u16string_view entry, engine::BatchStep step,
                  const engine::Error& error) override;

 private:
  std::ostream& out_;
};

}  // namespace vendrake::cli
