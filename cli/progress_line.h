#pragma once

#include <cstddef>
#include <memory>
#include <ostream>

#include "cli/file_lines.h"
#include "command/run_progress.h"

namespace vendrake::cli {

// A run's progress on standard error, `err`: as one line redrawn in place
// ("\r"), as a terminal shows it, in the manner of rsync --info=progress2,
// "1,057 of 20,000 models  5%  352 models/s  0:00:54 left"; or, for --json,
// as one JSON object per line, {"type":"progress","done":...,"listed":...,
// "rate":...,"seconds_left":...}. Lines meant for standard output, `out`, go
// there before the line is drawn, so the two never run into each other on a
// terminal.
class ProgressLine {
 public:
  enum class Style { kLine, kJson };

  ProgressLine(std::ostream& out, std::ostream& err, Style style)
      : out_(out), err_(err), style_(style) {}

  void Show(const command::ProgressCount& count);

  // Erases the line, if one is drawn, leaving the cursor where it began.
  void Clear();

  // `lines` with the line erased before each of their lines is printed: the
  // summaries, and each file's line where `files_printed` (as --report
  // prints them).
  std::unique_ptr<FileLines> Around(std::unique_ptr<FileLines> lines, bool files_printed);

 private:
  std::ostream& out_;
  std::ostream& err_;
  const Style style_;
  std::size_t drawn_ = 0;  // the length of the line on the terminal; 0 when none is
};

}  // namespace vendrake::cli
