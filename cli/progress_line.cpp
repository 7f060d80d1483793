#include "cli/progress_line.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>
#include <utility>

#include "engine/text_encoding.h"

namespace vendrake::cli {
namespace {

// "0:00:54", as rsync gives the time left; "-:--:--" while it is not known.
std::string Clock(double seconds) {
  if (seconds < 0 || !std::isfinite(seconds)) return "-:--:--";
  const auto whole = static_cast<std::int64_t>(std::ceil(seconds));
  char text[32];
  std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(whole / 3600),
                static_cast<long long>(whole / 60 % 60), static_cast<long long>(whole % 60));
  return text;
}

std::string LineText(const command::ProgressCount& count) {
  const std::int64_t percent =
      count.listed > 0 ? std::min<std::int64_t>(100, count.done * 100 / count.listed) : 100;
  return engine::Utf16ToUtf8(command::ProgressCaption(count)) + "  " + std::to_string(percent) +
         "%  " + command::GroupedDigits(std::llround(count.Rate())) + " models/s  " +
         Clock(count.SecondsLeft()) + " left";
}

nlohmann::json JsonObject(const command::ProgressCount& count) {
  const double left = count.SecondsLeft();
  return {{"type", "progress"},
          {"done", count.done},
          {"listed", count.listed},
          {"rate", std::round(count.Rate() * 10) / 10},
          {"seconds_left", left < 0 ? nlohmann::json(nullptr) : nlohmann::json(std::ceil(left))}};
}

// Passes every line on to `inner`, erasing the progress line first where
// `inner` prints it: the summaries always, each file's line only with
// `files_printed`.
class LinesBelowProgress : public FileLines {
 public:
  LinesBelowProgress(std::unique_ptr<FileLines> inner, ProgressLine& progress, bool files_printed)
      : inner_(std::move(inner)), progress_(progress), files_printed_(files_printed) {}

  void Written(std::u16string_view entry, std::u16string_view output_path,
               std::u16string_view replaced) override {
    if (files_printed_) progress_.Clear();
    inner_->Written(entry, output_path, replaced);
  }
  void Failed(std::u16string_view entry, engine::BatchStep step,
              const engine::Error& error) override {
    if (files_printed_) progress_.Clear();
    inner_->Failed(entry, step, error);
  }
  void PassedOver(std::u16string_view entry, std::string_view reason) override {
    if (files_printed_) progress_.Clear();
    inner_->PassedOver(entry, reason);
  }
  void Summary(const FolderSummary& summary, bool several) override {
    progress_.Clear();
    inner_->Summary(summary, several);
  }
  void Total(const engine::RunTally& total, std::int64_t folders, bool dry_run) override {
    progress_.Clear();
    inner_->Total(total, folders, dry_run);
  }

 private:
  std::unique_ptr<FileLines> inner_;
  ProgressLine& progress_;
  const bool files_printed_;
};

}  // namespace

void ProgressLine::Show(const command::ProgressCount& count) {
  if (style_ == Style::kJson) {
    err_ << JsonObject(count).dump() << '\n' << std::flush;
    return;
  }
  // The lines printed since the last drawing reach the terminal first.
  out_.flush();
  const std::string text = LineText(count);
  // Spaces cover what a longer line drawn before left.
  err_ << '\r' << text << std::string(drawn_ > text.size() ? drawn_ - text.size() : 0, ' ')
       << std::flush;
  drawn_ = text.size();
}

void ProgressLine::Clear() {
  if (drawn_ == 0) return;
  err_ << '\r' << std::string(drawn_, ' ') << '\r' << std::flush;
  drawn_ = 0;
}

std::unique_ptr<FileLines> ProgressLine::Around(std::unique_ptr<FileLines> lines,
                                                bool files_printed) {
  return std::make_unique<LinesBelowProgress>(std::move(lines), *this, files_printed);
}

}  // namespace vendrake::cli
