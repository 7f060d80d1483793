#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/batch_run.h"

namespace vendrake::command {

// The most lines the details of a run list; a last line counts the others.
inline constexpr std::size_t kMostDetailLines = 1000;

// Hears of every file, passing each on to `inner` when given, and keeps what
// went wrong for the details of the run's summary: one line per file that
// failed ("name: failed: " and its FailureText) or was passed over ("name:
// passed over: " and the reason), in listing order, as the CLI's report words
// them. Touches nothing but itself, so it may hear a run on any thread.
class RunDetails : public engine::BatchObserver {
 public:
  explicit RunDetails(engine::BatchObserver* inner = nullptr) : inner_(inner) {}

  void FileWritten(std::u16string_view entry, std::u16string_view output_path) override;
  void FileFailed(std::u16string_view entry, engine::BatchStep step,
                  const engine::Error& error) override;
  void FilePassedOver(std::u16string_view entry, std::string_view reason) override;
  void FileTaken() override {
    if (inner_ != nullptr) inner_->FileTaken();
  }
  bool WantsFilesListed() const override { return inner_ != nullptr && inner_->WantsFilesListed(); }
  void FilesListed(std::int64_t listed) override {
    if (inner_ != nullptr) inner_->FilesListed(listed);
  }
  void DestinationUnusable(std::string_view reason) override;

  // The details of the run that ended as `run`: the destination's reason
  // first, then the files' lines, then why the last names may not have
  // reached the disk and why the listing broke off. Empty when nothing went
  // wrong. At most kMostDetailLines file lines are listed, and a line says how
  // many more there were.
  std::u16string Text(const engine::BatchOutcome& run) const;

 private:
  void Keep(std::u16string line);

  engine::BatchObserver* inner_;
  std::vector<std::u16string> lines_;
  std::int64_t left_out_ = 0;
};

}  // namespace vendrake::command
