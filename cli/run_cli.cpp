#include "cli/run_cli.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/cli_options.h"
#include "cli/console_surface.h"
#include "cli/factor_notes.h"
#include "cli/file_report.h"
#include "cli/folder_plan.h"
#include "cli/height_watch.h"
#include "cli/json_report.h"
#include "cli/line_escape.h"
#include "cli/progress_line.h"
#include "cli/run_ending.h"
#include "cli/run_watch.h"
#include "cli/source_check.h"
#include "command/messages.h"
#include "command/on_scale.h"
#include "command/run_progress.h"
#include "command/scale_text.h"
#include "engine/dry_run_file_system.h"
#include "engine/text_encoding.h"
#include "engine/window_state.h"

namespace vendrake::cli {
namespace {

constexpr char kProgram[] = "vendrake-cli: ";

// Everything one folder's lines on standard error start with: the
// program's name, and the folder's when the call names several.
std::string ErrorPrefix(const FolderJob& job, bool several) {
  return several ? kProgram + engine::Utf16ToUtf8(EscapeForLine(job.folder)) + ": " : kProgram;
}

// `exit_status`, or 1 in place of 0 when what went to `out` did not all
// arrive (a closed pipe, a full disk, a closed descriptor), as coreutils do.
int AfterFlushing(std::ostream& out, std::ostream& err, int exit_status) {
  out.flush();
  if (out) return exit_status;
  err << kProgram << "cannot write to standard output\n";
  return exit_status == kExitAllWritten ? kExitSomeFailed : exit_status;
}

// The whole call: each folder in turn, through the same file system.
class Call {
 public:
  Call(const CliOptions& options, std::ostream& out, std::ostream& err, engine::FileSystem& files,
       const StopRequest* stop, bool err_is_terminal)
      : options_(options), err_(err), stop_(stop), dry_run_(files) {
    engine::FileSystem* used = &files;
    if (options.dry_run) used = &dry_run_;
    // The heights are shown by a dry run, and are needed to tell whether a
    // factor below 1 left nothing of them.
    const command::ParsedScale scale = command::ParseScaleText(engine::Utf8ToUtf16(options.scale));
    if (options.dry_run ||
        (scale.kind == command::ParsedScale::Kind::kValue && std::fabs(scale.value) < 1.0F)) {
      heights_ = std::make_unique<HeightWatch>(*used);
      used = heights_.get();
    }
    files_ = used;
    if (options.json) {
      lines_ = std::make_unique<JsonReport>(out);
    } else {
      lines_ = std::make_unique<FileReport>(out, options.report);
    }
    // With --json, standard error takes JSON only when asked to.
    if (options.json ? options.progress.value_or(false)
                     : options.progress.value_or(err_is_terminal)) {
      progress_ = std::make_unique<ProgressLine>(
          out, err, options.json ? ProgressLine::Style::kJson : ProgressLine::Style::kLine);
      lines_ = progress_->Around(std::move(lines_), options.report || options.json);
    }
  }

  int Run(const std::vector<FolderJob>& jobs) {
    const bool several = jobs.size() > 1;
    int worst = kExitAllWritten;
    engine::RunTally total;
    HeightRange before;
    std::int64_t folders = 0;
    float factor = 0.0F;
    bool finished_any = false;
    bool factor_rejected = false;
    for (const FolderJob& job : jobs) {
      ++folders;
      const FolderResult result = RunFolder(job, several);
      worst = std::max(worst, result.exit_status);
      total.attempted += result.outcome.tally.attempted;
      total.succeeded += result.outcome.tally.succeeded;
      if (result.outcome.kind == command::ScaleOutcome::Kind::kFinished) {
        finished_any = true;
        factor = result.factor;
        if (result.heights_before) Widen(before, *result.heights_before);
      }
      // The factor is the same for every folder, and a stop is for the call.
      factor_rejected = result.factor_rejected;
      if (factor_rejected || result.outcome.interrupted) break;
    }
    if (several && !factor_rejected) lines_->Total(total, folders, options_.dry_run);
    if (finished_any) {
      if (const auto warning = FactorWarning(options_.scale, factor, before)) {
        err_ << kProgram << "warning: " << *warning << '\n';
      }
    }
    return worst;
  }

 private:
  struct FolderResult {
    command::ScaleOutcome outcome;
    int exit_status = kExitAllWritten;
    bool factor_rejected = false;
    float factor = 0.0F;
    std::optional<HeightRange> heights_before;
  };

  // The heights are watched as each output follows the model read just
  // before it: one file at a time then.
  std::size_t Jobs() const {
    if (heights_ != nullptr) return 1;
    return options_.jobs != 0 ? options_.jobs : engine::DefaultJobs();
  }

  FolderResult RunFolder(const FolderJob& job, bool several) {
    ConsoleSurface surface(job.source, job.destination, engine::Utf8ToUtf16(options_.scale));
    engine::WindowState state;
    const std::string prefix = ErrorPrefix(job, several);
    RunWatch watch(*files_, lines_.get(), err_, prefix, progress_.get());
    if (heights_) heights_->Clear();
    std::optional<command::RunProgress> progress;
    engine::BatchObserver* observer = &watch;
    if (progress_ != nullptr) {
      observer = &progress.emplace(
          &watch, [this](const command::ProgressCount& count) { progress_->Show(count); });
    }
    FolderResult result;
    if (const auto folders = command::BeginScale(surface, state)) {
      // Nothing is made, not even the destination, for a source that is
      // no folder: a mistyped name leaves no trace.
      if (const auto reason = WhyNoFolder(*files_, folders->source)) {
        FolderSummary no_folder;
        no_folder.folder = job.folder;
        no_folder.message = engine::Utf8ToUtf16(*reason);
        no_folder.dry_run = options_.dry_run;
        lines_->Summary(no_folder, several);
        err_ << kProgram << engine::Utf16ToUtf8(EscapeForLine(job.folder)) << ": " << *reason
             << '\n';
        result.exit_status = kExitSomeFailed;
        return result;
      }
      result.outcome = command::FinishScale(
          surface, command::RunScale(*folders, state, *files_, observer,
                                     stop_ != nullptr ? &stop_->requested : nullptr, Jobs()));
    }
    result.exit_status = ExitStatusFor(result.outcome, stop_);
    result.factor = state.ScaleFactor;
    const bool finished = result.outcome.kind == command::ScaleOutcome::Kind::kFinished;

    FolderSummary summary;
    summary.folder = job.folder;
    summary.finished = finished;
    summary.dry_run = options_.dry_run;
    summary.tally = result.outcome.tally;
    summary.replaced = watch.Replaced();
    if (result.outcome.kind != command::ScaleOutcome::Kind::kRejected) {
      summary.source = surface.SourceText();
      summary.destination = surface.DestinationText();
    }
    if (!surface.Messages().empty()) summary.message = surface.Messages().back();
    if (heights_ && finished) {
      result.heights_before = heights_->Before();
      if (options_.dry_run) {
        summary.heights_before = heights_->Before();
        summary.heights_after = heights_->After();
      }
    }
    lines_->Summary(summary, several);

    if (!finished) {
      for (const std::u16string& message : surface.Messages()) {
        // The window's message would suggest a decimal separator whatever
        // the mistake; here the text can be quoted back.
        if (message == command::kScaleNotNumericMessage) {
          err_ << kProgram << RejectedFactorText(options_.scale) << '\n';
          result.factor_rejected = true;
        } else if (message == command::kScaleOutOfRangeMessage) {
          err_ << kProgram << OutOfRangeFactorText(options_.scale) << '\n';
          result.factor_rejected = true;
        } else {
          err_ << prefix << engine::Utf16ToUtf8(message) << '\n';
        }
      }
    }
    PrintCause(err_, prefix, result.outcome, surface.SourceText(), watch,
               options_.report || options_.json, stop_);
    PrintIfOutputsAreHidden(err_, prefix, result.outcome, state, *files_);
    return result;
  }

  const CliOptions& options_;
  std::ostream& err_;
  const StopRequest* stop_;
  engine::DryRunFileSystem dry_run_;
  std::unique_ptr<HeightWatch> heights_;
  engine::FileSystem* files_ = nullptr;
  std::unique_ptr<ProgressLine> progress_;
  std::unique_ptr<FileLines> lines_;
};

}  // namespace

int RunCli(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
           engine::FileSystem& files, const StopRequest* stop, bool err_is_terminal) {
  int exit_status = kExitAllWritten;
  const std::optional<CliOptions> options = ParseOptions(argc, argv, out, err, exit_status);
  if (!options) return AfterFlushing(out, err, exit_status);
  std::vector<FolderJob> jobs;
  try {
    jobs = PlanFolders(*options);
  } catch (const UsageError& error) {
    err << kProgram << error.what() << '\n' << kProgram << "run with --help for more information\n";
    return AfterFlushing(out, err, kExitRejected);
  }
  Call call(*options, out, err, files, stop, err_is_terminal);
  return AfterFlushing(out, err, call.Run(jobs));
}

}  // namespace vendrake::cli
