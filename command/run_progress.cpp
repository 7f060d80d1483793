#include "command/run_progress.h"

#include <algorithm>
#include <utility>

#include "engine/text_encoding.h"

namespace vendrake::command {

double ProgressCount::Rate() const {
  const double seconds = std::chrono::duration<double>(elapsed).count();
  return done > 0 && seconds > 0 ? static_cast<double>(done) / seconds : 0.0;
}

double ProgressCount::SecondsLeft() const {
  if (done >= listed) return 0.0;
  const double rate = Rate();
  return rate > 0 ? static_cast<double>(listed - done) / rate : -1.0;
}

std::string GroupedDigits(std::int64_t number) {
  std::string digits = std::to_string(number);
  const std::size_t first = number < 0 ? 1 : 0;
  for (std::size_t at = digits.size(); at > first + 3; at -= 3) digits.insert(at - 3, 1, ',');
  return digits;
}

std::u16string ProgressCaption(const ProgressCount& count) {
  return engine::Utf8ToUtf16(GroupedDigits(count.done) + " of " + GroupedDigits(count.listed) +
                             " models");
}

RunProgress::RunProgress(engine::BatchObserver* inner, Show show,
                         std::chrono::steady_clock::duration interval)
    : inner_(inner),
      show_(std::move(show)),
      interval_(interval),
      start_(std::chrono::steady_clock::now()) {}

ProgressCount RunProgress::Count() const {
  return {.done = done_.load(std::memory_order_relaxed),
          .listed = listed_.load(std::memory_order_relaxed),
          .elapsed = std::chrono::steady_clock::now() - start_};
}

void RunProgress::FilesListed(std::int64_t listed) {
  listed_.store(listed, std::memory_order_relaxed);
  if (inner_ != nullptr) inner_->FilesListed(listed);
  next_due_.store((std::chrono::steady_clock::now() + interval_).time_since_epoch().count());
  show_(Count());
}

void RunProgress::FileWritten(std::u16string_view entry, std::u16string_view output_path) {
  if (inner_ != nullptr) inner_->FileWritten(entry, output_path);
}

void RunProgress::FileFailed(std::u16string_view entry, engine::BatchStep step,
                             const engine::Error& error) {
  if (inner_ != nullptr) inner_->FileFailed(entry, step, error);
}

void RunProgress::FilePassedOver(std::u16string_view entry, std::string_view reason) {
  if (inner_ != nullptr) inner_->FilePassedOver(entry, reason);
}

void RunProgress::FileTaken() {
  if (inner_ != nullptr) inner_->FileTaken();
  done_.fetch_add(1, std::memory_order_relaxed);
  const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
  auto due = next_due_.load();
  // Of the threads that find the count due, the one that moves the next due
  // time on shows it; the others go on with their files.
  if (now < due || !next_due_.compare_exchange_strong(due, now + interval_.count())) return;
  show_(Count());
}

}  // namespace vendrake::command
