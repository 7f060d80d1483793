#pragma once

#include <ostream>

#include "cli/file_lines.h"

namespace vendrake::cli {

// Tells the same as FileReport with --report, as JSON Lines on `out`: one
// object per file, {"type":"file","name":...,"status":"written","output":...},
// with "replaces" where FileReport says "replaces the output of", or with
// "status":"failed" or "passed over" and a "reason"; one per folder,
// {"type":"summary",...} with the counts, and one {"type":"total",...} after
// several folders. Texts are escaped as FileReport escapes them.
class JsonReport : public FileLines {
 public:
  explicit JsonReport(std::ostream& out) : out_(out) {}

  void Written(std::u16string_view entry, std::u16string_view output_path,
               std::u16string_view replaced) override;
  void Failed(std::u16string_view entry, engine::BatchStep step,
              const engine::Error& error) override;
  void PassedOver(std::u16string_view entry, std::string_view reason) override;
  void Summary(const FolderSummary& summary, bool several) override;
  void Total(const engine::RunTally& total, std::int64_t folders, bool dry_run) override;

 private:
  std::ostream& out_;
};

}  // namespace vendrake::cli
