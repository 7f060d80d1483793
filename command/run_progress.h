#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "engine/batch_run.h"

namespace vendrake::command {

// How far a run has come: files taken (read, scaled and staged, failed or
// passed over) of the files a first pass over the listing counted, and the
// time since the run began.
struct ProgressCount {
  std::int64_t done = 0;
  std::int64_t listed = 0;
  std::chrono::steady_clock::duration elapsed{};

  // Files per second so far; 0 before the first file.
  double Rate() const;
  // Seconds until `listed` files are done at the rate so far; nothing known
  // (negative) before the first file. 0 once `done` has reached `listed`,
  // which a folder that grows during the run may pass.
  double SecondsLeft() const;
};

// "1,057 of 20,000 models", as a window's credit line shows it during a run.
std::u16string ProgressCaption(const ProgressCount& count);

// A number with a "," between each group of three digits: "20,000".
std::string GroupedDigits(std::int64_t number);

// Hears of every file, passing each on to `inner` when given, and hands the
// count so far to `show` at most once per `interval`: so that a fast run is
// not slowed by whoever shows it, a call that comes sooner than that after
// the last shown is dropped. Asks the run for the number of files listed and
// shows the count at once when it comes. Safe to hear a run on several
// threads: the counts are atomic, and of calls that come together one shows.
// `show` may run on any of them.
class RunProgress : public engine::BatchObserver {
 public:
  using Show = std::function<void(const ProgressCount&)>;
  static constexpr std::chrono::milliseconds kInterval{100};

  RunProgress(engine::BatchObserver* inner, Show show,
              std::chrono::steady_clock::duration interval = kInterval);

  void FileWritten(std::u16string_view entry, std::u16string_view output_path) override;
  void FileFailed(std::u16string_view entry, engine::BatchStep step,
                  const engine::Error& error) override;
  void FilePassedOver(std::u16string_view entry, std::string_view reason) override;
  void FileTaken() override;
  bool WantsFilesListed() const override { return true; }
  void FilesListed(std::int64_t listed) override;
  void DestinationUnusable(std::string_view reason) override {
    if (inner_ != nullptr) inner_->DestinationUnusable(reason);
  }

  // The count as it stands.
  ProgressCount Count() const;

 private:
  engine::BatchObserver* inner_;
  Show show_;
  const std::chrono::steady_clock::duration interval_;
  const std::chrono::steady_clock::time_point start_;
  std::atomic<std::int64_t> done_{0};
  std::atomic<std::int64_t> listed_{0};
  // When the count may be shown next, as ticks of the steady clock.
  std::atomic<std::chrono::steady_clock::rep> next_due_{0};
};

}  // namespace vendrake::command
