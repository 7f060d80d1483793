#include "cli/run_cli.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <csignal>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/console_surface.h"
#include "cli/file_report.h"
#include "cli/line_escape.h"
#include "command/defaults.h"
#include "command/on_scale.h"
#include "engine/native_path.h"
#include "engine/output_naming.h"
#include "engine/text_encoding.h"
#include "engine/window_state.h"

namespace vendrake::cli {
namespace {

constexpr char kProgram[] = "vendrake-cli: ";

struct CliOptions {
  std::string source = engine::Utf16ToUtf8(command::kDefaultSourceText);
  std::string destination = engine::Utf16ToUtf8(command::kDefaultDestinationText);
  std::string scale = engine::Utf16ToUtf8(command::kDefaultScaleText);
  bool report = false;
};

// The arguments after the program's name, last first as CLI11 takes them,
// with "--dest=" (nothing after the "=") split into "--dest" and an empty
// argument, likewise for the other texts. CLI11 reads an empty value after "="
// as no value and takes the next argument instead, so "--dest= --report" would
// write into a folder named "--report".
std::vector<std::string> ReversedArguments(int argc, const char* const* argv) {
  static constexpr std::string_view kTextOptions[] = {"--source", "--dest", "--scale"};
  std::vector<std::string> args;
  bool options_ended = false;
  for (int k = 1; k < argc; ++k) {
    const std::string_view arg = argv[k];
    const std::string_view name = arg.substr(0, arg.size() - (arg.ends_with('=') ? 1 : 0));
    const bool empty_value =
        !options_ended && name.size() < arg.size() &&
        std::find(std::begin(kTextOptions), std::end(kTextOptions), name) != std::end(kTextOptions);
    if (arg == "--") options_ended = true;
    args.emplace_back(empty_value ? name : arg);
    if (empty_value) args.emplace_back();
  }
  std::reverse(args.begin(), args.end());
  return args;
}

// The parsed options, or the exit status when the program is done already
// (help, version, or a usage error, each printed by the parser).
std::optional<CliOptions> ParseOptions(int argc, const char* const* argv, std::ostream& out,
                                       std::ostream& err, int& exit_status) {
  CliOptions options;
  CLI::App app{"Scales the vertex heights of every terrain cliff model in a folder.",
               "vendrake-cli"};
  app.add_option("--source", options.source, "Folder of the models to scale")
      ->capture_default_str();
  app.add_option("--dest", options.destination, "Folder to write the scaled models into")
      ->capture_default_str();
  app.add_option("--scale", options.scale, "Factor for every vertex height")->capture_default_str();
  app.add_flag("--report", options.report, "Print one line per file before the summary");
  app.set_version_flag("--version", "vendrake-cli " VENDRAKE_VERSION);
  // A usage error quotes arguments, which may hold anything.
  app.failure_message([](const CLI::App* /*app*/, const CLI::Error& error) {
    return EscapeBytesForLine(error.what()) + "\nRun with --help for more information.\n";
  });
  try {
    app.parse(ReversedArguments(argc, argv));
  } catch (const CLI::ParseError& error) {
    exit_status = app.exit(error, out, err) == 0 ? kExitAllWritten : kExitRejected;
    return std::nullopt;
  }
  return options;
}

// Hears of every file: passes each on to the report when there is one, and
// keeps the first failure for the line that stands in for a report.
class FailureWatch : public engine::BatchObserver {
 public:
  explicit FailureWatch(engine::BatchObserver* report) : report_(report) {}

  void FileWritten(std::u16string_view entry, std::u16string_view output_path) override {
    if (report_ != nullptr) report_->FileWritten(entry, output_path);
  }
  void FileFailed(std::u16string_view entry, engine::BatchStep step,
                  const engine::Error& error) override {
    if (first_failure_.empty()) {
      first_failure_ = EscapeForLine(entry) + u": " + FailureText(entry, step, error);
    }
    if (report_ != nullptr) report_->FileFailed(entry, step, error);
  }
  void FilePassedOver(std::u16string_view entry, std::string_view reason) override {
    if (report_ != nullptr) report_->FilePassedOver(entry, reason);
  }

  const std::u16string& FirstFailure() const { return first_failure_; }

 private:
  engine::BatchObserver* report_;
  std::u16string first_failure_;
};

std::string SignalName(int signal) {
  switch (signal) {
    case SIGINT:
      return "SIGINT";
    case SIGTERM:
      return "SIGTERM";
#ifdef SIGHUP
    case SIGHUP:
      return "SIGHUP";
#endif
    default:
      return "signal " + std::to_string(signal);
  }
}

// The line on `err` beside the command's message that says why the run ended
// as it did, where the message alone does not.
void PrintCause(std::ostream& err, const command::ScaleOutcome& outcome,
                const std::u16string& source, const FailureWatch& watch, bool report,
                const StopRequest* stop) {
  using Kind = command::ScaleOutcome::Kind;
  if (outcome.kind == Kind::kSourceEmpty) {
    if (outcome.listing_error.empty()) {
      err << kProgram << engine::Utf16ToUtf8(EscapeForLine(engine::DisplayPath(source)))
          << " holds no normal file (folders and hidden files are not scaled)\n";
    } else {
      err << kProgram << "the source folder cannot be read ("
          << EscapeBytesForLine(outcome.listing_error) << ")\n";
    }
    return;
  }
  if (outcome.kind != Kind::kFinished) return;
  if (!outcome.destination_error.empty()) {
    err << kProgram << "no output can be written, the destination folder cannot be opened ("
        << EscapeBytesForLine(outcome.destination_error) << ")\n";
  }
  if (!outcome.flush_error.empty()) {
    err << kProgram
        << "the disk did not confirm the names some outputs took, which count as failed ("
        << EscapeBytesForLine(outcome.flush_error) << ")\n";
  }
  if (!outcome.listing_error.empty()) {
    err << kProgram << "the listing of the source folder broke off, later files were not tried ("
        << EscapeBytesForLine(outcome.listing_error) << ")\n";
  }
  if (outcome.out_of_memory) {
    err << kProgram << "out of memory, later files were not tried\n";
  }
  if (outcome.interrupted) {
    err << kProgram << "interrupted by " << SignalName(stop->signal.load())
        << " before the end of the source folder\n";
  }
  const std::int64_t failed = outcome.tally.attempted - outcome.tally.succeeded;
  if (failed > 0 && !report) {
    err << kProgram << failed << " failed";
    // Empty when memory ran out as the failure was noted.
    if (!watch.FirstFailure().empty()) {
      err << ", the first is " << engine::Utf16ToUtf8(watch.FirstFailure());
    }
    err << "; --report lists every file\n";
  }
}

// Outputs named after a destination whose own name starts with "." (".\"
// itself, or a hidden folder) are hidden files where a leading "." hides.
void PrintIfOutputsAreHidden(std::ostream& err, const command::ScaleOutcome& outcome,
                             const engine::WindowState& state, const engine::FileSystem& files) {
  if (outcome.kind != command::ScaleOutcome::Kind::kFinished || outcome.tally.succeeded == 0) {
    return;
  }
  const std::u16string base = engine::OutputName(state.DestBaseName, u"");
  if (!files.HidesByName(base)) return;
  err << kProgram << "the outputs are hidden files: their names start with \""
      << engine::Utf16ToUtf8(EscapeForLine(base)) << "\", the destination folder's own name\n";
}

int ExitStatusFor(const command::ScaleOutcome& outcome, const StopRequest* stop) {
  switch (outcome.kind) {
    case command::ScaleOutcome::Kind::kRejected:
      return kExitRejected;
    case command::ScaleOutcome::Kind::kSourceEmpty:
      return kExitSomeFailed;
    case command::ScaleOutcome::Kind::kFinished:
      break;
  }
  if (outcome.interrupted) return kExitSignalBase + stop->signal.load();
  if (!outcome.listing_error.empty() || !outcome.flush_error.empty() || outcome.out_of_memory) {
    return kExitSomeFailed;
  }
  return outcome.tally.succeeded == outcome.tally.attempted ? kExitAllWritten : kExitSomeFailed;
}

// `exit_status`, or 1 in place of 0 when what went to `out` did not all
// arrive (a closed pipe, a full disk, a closed descriptor), as coreutils do.
int AfterFlushing(std::ostream& out, std::ostream& err, int exit_status) {
  out.flush();
  if (out) return exit_status;
  err << kProgram << "cannot write to standard output\n";
  return exit_status == kExitAllWritten ? kExitSomeFailed : exit_status;
}

}  // namespace

int RunCli(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
           engine::FileSystem& files, const StopRequest* stop) {
  int exit_status = kExitAllWritten;
  const std::optional<CliOptions> options = ParseOptions(argc, argv, out, err, exit_status);
  if (!options) return AfterFlushing(out, err, exit_status);

  ConsoleSurface surface(engine::Utf8ToUtf16(options->source),
                         engine::Utf8ToUtf16(options->destination),
                         engine::Utf8ToUtf16(options->scale));
  engine::WindowState state;
  FileReport report(out);
  FailureWatch watch(options->report ? &report : nullptr);
  const command::ScaleOutcome outcome =
      command::OnScale(surface, state, files, &watch, stop != nullptr ? &stop->requested : nullptr);

  // The summary is the result; any other message says why there is none.
  std::ostream& messages = outcome.kind == command::ScaleOutcome::Kind::kFinished ? out : err;
  for (const std::u16string& message : surface.Messages()) {
    messages << engine::Utf16ToUtf8(message) << '\n';
  }
  PrintCause(err, outcome, surface.SourceText(), watch, options->report, stop);
  PrintIfOutputsAreHidden(err, outcome, state, files);
  return AfterFlushing(out, err, ExitStatusFor(outcome, stop));
}

}  // namespace vendrake::cli
