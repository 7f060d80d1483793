#include "cli/run_cli.h"

#include <CLI/CLI.hpp>
#include <optional>
#include <string>

#include "cli/console_surface.h"
#include "cli/file_report.h"
#include "command/defaults.h"
#include "command/on_scale.h"
#include "engine/text_encoding.h"
#include "engine/window_state.h"

namespace vendrake::cli {
namespace {

struct CliOptions {
  std::string source = engine::Utf16ToUtf8(command::kDefaultSourceText);
  std::string destination = engine::Utf16ToUtf8(command::kDefaultDestinationText);
  std::string scale = engine::Utf16ToUtf8(command::kDefaultScaleText);
  bool report = false;
};

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
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    exit_status = app.exit(error, out, err) == 0 ? kExitAllWritten : kExitRejected;
    return std::nullopt;
  }
  return options;
}

int ExitStatusFor(const command::ScaleOutcome& outcome) {
  switch (outcome.kind) {
    case command::ScaleOutcome::Kind::kRejected:
      return kExitRejected;
    case command::ScaleOutcome::Kind::kSourceEmpty:
      return kExitSomeFailed;
    case command::ScaleOutcome::Kind::kFinished:
      break;
  }
  return outcome.tally.succeeded == outcome.tally.attempted ? kExitAllWritten : kExitSomeFailed;
}

}  // namespace

int RunCli(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
           engine::FileSystem& files) {
  int exit_status = kExitAllWritten;
  const std::optional<CliOptions> options = ParseOptions(argc, argv, out, err, exit_status);
  if (!options) return exit_status;

  ConsoleSurface surface(engine::Utf8ToUtf16(options->source),
                         engine::Utf8ToUtf16(options->destination),
                         engine::Utf8ToUtf16(options->scale));
  engine::WindowState state;
  FileReport report(out);
  const command::ScaleOutcome outcome =
      command::OnScale(surface, state, files, options->report ? &report : nullptr);

  // The summary is the result; any other message says why there is none.
  std::ostream& messages = outcome.kind == command::ScaleOutcome::Kind::kFinished ? out : err;
  for (const std::u16string& message : surface.Messages()) {
    messages << engine::Utf16ToUtf8(message) << '\n';
  }
  return ExitStatusFor(outcome);
}

}  // namespace vendrake::cli
