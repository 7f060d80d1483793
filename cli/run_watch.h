#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <unordered_map>
#include <utility>

#include "cli/file_lines.h"
#include "cli/progress_line.h"
#include "engine/batch_run.h"
#include "engine/file_system.h"

namespace vendrake::cli {

// Hears of every file of one folder's run and passes each on to `lines`
// when given. Tells, of a file written, the earlier file of the run whose
// output it replaced, as the two outputs have the same name (the volume's
// NameKey of the path), and counts those; keeps the first failure for the
// line that stands in for a report. Says on `err`, after `error_prefix`, why
// no output can be written as soon as that is known, before any file's line,
// erasing the `progress` line first where there is one.
class RunWatch : public engine::BatchObserver {
 public:
  RunWatch(const engine::FileSystem& files, FileLines* lines, std::ostream& err,
           std::string error_prefix, ProgressLine* progress = nullptr)
      : files_(files),
        lines_(lines),
        err_(err),
        error_prefix_(std::move(error_prefix)),
        progress_(progress) {}

  void FileWritten(std::u16string_view entry, std::u16string_view output_path) override;
  void FileFailed(std::u16string_view entry, engine::BatchStep step,
                  const engine::Error& error) override;
  void FilePassedOver(std::u16string_view entry, std::string_view reason) override;
  void DestinationUnusable(std::string_view reason) override;

  // "name: reason" of the first file that failed, escaped; empty if none did.
  const std::u16string& FirstFailure() const { return first_failure_; }
  // How many outputs a later file of the run replaced.
  std::int64_t Replaced() const { return replaced_; }

 private:
  const engine::FileSystem& files_;
  FileLines* lines_;
  std::ostream& err_;
  const std::string error_prefix_;
  ProgressLine* progress_;
  std::u16string first_failure_;
  // The file each output of the run was made from, by the output's key.
  std::unordered_map<std::u16string, std::u16string> made_from_;
  std::int64_t replaced_ = 0;
};

}  // namespace vendrake::cli
